# Fails when a Windows program imports a library that the loader might take from the program's
# own folder. The program runs with administrator rights from the download folder, so it may
# import statically only the libraries that every supported Windows loads from the system
# folder: its known system libraries, and comctl32 where the program's manifest binds version 6
# side by side. Everything else is loaded at run time from the system folder
# (win32/SystemLibrary.h). Delay-loaded imports are refused too: they load by bare name.
#
#   cmake -DLK_OBJDUMP=objdump -DLK_PROGRAM=path/to/program.exe [-DLK_STAMP=file] -P CheckImports.cmake
cmake_minimum_required(VERSION 3.25)

set(allowed kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll
    msvcrt.dll)

execute_process(COMMAND ${LK_OBJDUMP} -p ${LK_PROGRAM}
                OUTPUT_VARIABLE headers RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${LK_OBJDUMP} -p ${LK_PROGRAM} failed: ${errors}")
endif()

get_filename_component(program ${LK_PROGRAM} NAME)
file(STRINGS ${LK_PROGRAM} manifest REGEX "Microsoft\\.Windows\\.Common-Controls" LIMIT_COUNT 1)
if(manifest)
  list(APPEND allowed comctl32.dll)
endif()

set(refused "")
string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${headers}")
foreach(line IN LISTS names)
  string(REGEX REPLACE "^DLL Name: *" "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST allowed)
    list(APPEND refused ${name})
  endif()
endforeach()

# objdump prints the data directory as "Entry d <address> <size> Delay Import Directory".
string(REGEX MATCH "Entry d ([0-9a-fA-F]+) ([0-9a-fA-F]+) Delay Import Directory" delay
       "${headers}")
if(NOT delay)
  message(FATAL_ERROR "${program}: no data directory in the output of ${LK_OBJDUMP} -p")
endif()
if(NOT CMAKE_MATCH_2 MATCHES "^0+$")
  list(APPEND refused "(delay-loaded libraries)")
endif()

if(refused)
  list(JOIN refused ", " refused_text)
  message(FATAL_ERROR
    "${program} imports ${refused_text}: the loader looks for it in the program's own folder "
    "first, where a planted copy would run with the program's rights. Load it at run time with "
    "lk::RuntimeLibrary (win32/RuntimeLibrary.h) instead.")
endif()
if(LK_STAMP)
  file(WRITE ${LK_STAMP} "${program}: only known system libraries imported\n")
endif()

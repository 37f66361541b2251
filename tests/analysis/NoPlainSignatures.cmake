# Fails when the program carries one of the trojan's strings as plain text: antivirus products,
# and our own sweep, would take it for the trojan. Usage: cmake -DPROGRAM=<exe> -P this file.
file(STRINGS ${PROGRAM} hits REGEX "[Cc]3[Pp][Oo].[Rr]2[Dd]2|[Kk][Ee][Yy][Bb][Oo][Aa][Rr][Dd][Cc][Ll][Aa][Ss][Ss][Cc]|SKYPEVERSION|[Kk].[Ee].[Yy].[Bb].[Oo].[Aa].[Rr].[Dd].[Cc]")
if(hits)
  message(FATAL_ERROR "plain signature text in ${PROGRAM}: ${hits}")
endif()
message(STATUS "no plain signature text in ${PROGRAM}")

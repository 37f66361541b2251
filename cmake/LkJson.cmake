# nlohmann-json, the header-only JSON library (Debian's nlohmann-json3-dev), as target lk_json.
add_library(lk_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  # The cross build must not see the host's /usr/include, only the library's own folder.
  find_path(LK_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
            NO_DEFAULT_PATH REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/nlohmann-json/include)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${LK_NLOHMANN_JSON_INCLUDE}/nlohmann ${dir}/nlohmann SYMBOLIC)
  target_include_directories(lk_json SYSTEM INTERFACE ${dir})
else()
  find_package(nlohmann_json 3 REQUIRED)
  target_link_libraries(lk_json INTERFACE nlohmann_json::nlohmann_json)
endif()

# Fails when a layer reaches above itself. From the bottom: platform/, base/ (error type,
# text helpers), then engine/ and config/ side by side, then ui/ and app/.
# - platform/ includes and links nothing of the program's other folders;
# - base/ nothing of engine/, config/, ui/ or app/;
# - engine/ and config/ nothing of each other, nor of ui/ or app/;
# - no layer below ui/ includes a Qt header: those layers are plain C++, so that they build
#   and test without the toolkit.
set(forbidden_platform base engine config ui app)
set(forbidden_base engine config ui app)
set(forbidden_engine config ui app)
set(forbidden_config engine ui app)

set(bad "")
foreach(layer platform base engine config)
  file(GLOB_RECURSE files "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.hpp" "${ROOT}/${layer}/*.cpp" "${ROOT}/${layer}/*.txt")
  string(JOIN "|" above ${forbidden_${layer}})
  foreach(f ${files})
    file(STRINGS "${f}" hits REGEX "(#[ \t]*include[ \t]*[<\"](Q[A-Za-z]|qt))|Qt6|find_package\\(Qt")
    if(hits)
      list(APPEND bad "${f}: Qt: ${hits}")
    endif()
    file(STRINGS "${f}" hits REGEX "#[ \t]*include[ \t]*[<\"](${above})/|trawlex_(${above})([^a-z_]|$)")
    if(hits)
      list(APPEND bad "${f}: above ${layer}/: ${hits}")
    endif()
  endforeach()
endforeach()
if(bad)
  string(REPLACE ";" "\n" bad "${bad}")
  message(FATAL_ERROR "A layer reaches above itself:\n${bad}")
endif()
message(STATUS "platform/, base/, engine/ and config/ include and link only what lies below them, and no Qt")

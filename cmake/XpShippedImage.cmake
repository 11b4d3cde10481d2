# What a shipped binary holds once loaded. Every section of a loaded image
# stays mapped, debug sections included: the debug information goes beside the
# binary (<file>.debug, which gdb finds through the debug link), as MSVC's goes
# into a PDB. Sections aligned to pages in the file can be mapped straight from
# it; Wine copies an image whose sections are not into private memory.
function(xp_shipped_image target)
  if(MSVC OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--file-alignment,4096)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

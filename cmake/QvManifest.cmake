# The application manifest that declares Windows 10 support, compiled with
# windres. Without it Windows reports version 6.2 at most to the program.
#
#   qv_embed_windows10_manifest(<target>)   for any executable, or
#   target_link_libraries(<exe> PRIVATE qv_windows10_manifest)
#
# It is an object library, so its resource is linked into the executable
# itself (a static library member that no symbol refers to would be dropped).
if(WIN32)
  enable_language(RC)
  set(_qv_manifest_dir ${CMAKE_CURRENT_LIST_DIR}/manifest)
  add_library(qv_windows10_manifest OBJECT ${_qv_manifest_dir}/windows10_manifest.rc)
  target_include_directories(qv_windows10_manifest PRIVATE ${_qv_manifest_dir})
  set_source_files_properties(${_qv_manifest_dir}/windows10_manifest.rc PROPERTIES
    OBJECT_DEPENDS ${_qv_manifest_dir}/windows10.manifest)
endif()

function(qv_embed_windows10_manifest target)
  if(TARGET qv_windows10_manifest)
    target_link_libraries(${target} PRIVATE qv_windows10_manifest)
  endif()
endfunction()

# lumo_add_version_info(TARGET FILE_DESCRIPTION): gives the Windows executable TARGET a
# version resource with the project's version, product name, publisher and copyright (the
# last from lumo_product.h, as any resource script can have it).
function(lumo_add_version_info target description)
  set(LUMO_FILE_DESCRIPTION "${description}")
  set(LUMO_INTERNAL_NAME "${target}")
  set(LUMO_ORIGINAL_FILENAME "${target}.exe")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  target_link_libraries(${target} PRIVATE lumo_product)
endfunction()

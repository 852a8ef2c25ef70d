# Installs a built web player (a folder with its HTML page at the top) under share/brakkenfel/web.
function(brakkenfel_install_web_player folder)
  file(GLOB pages "${folder}/*.html")
  if(NOT pages)
    message(FATAL_ERROR "BRAKKENFEL_WEB_PLAYER: ${folder} holds no HTML page: build the web player first")
  endif()
  install(DIRECTORY "${folder}/" DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/brakkenfel/web)
endfunction()

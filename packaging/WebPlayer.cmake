# Installs a built web player (a folder with index.html at its top) under share/brakkenfel/web.
function(brakkenfel_install_web_player folder)
  if(NOT EXISTS "${folder}/index.html")
    message(FATAL_ERROR "BRAKKENFEL_WEB_PLAYER: ${folder} holds no index.html: build the web player first")
  endif()
  install(DIRECTORY "${folder}/" DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/brakkenfel/web)
endfunction()

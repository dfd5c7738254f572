# Installs BUILD_DIR into PREFIX (emptied first, removed after) and checks the files.
cmake_minimum_required(VERSION 3.21)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected
  ${BINDIR}/OrvelBinLoader
  ${BINDIR}/orvel-sim
  ${BINDIR}/orvel-mkimages
  ${BINDIR}/orvel-loader
  ${ORVEL_DATADIR}/Readme.txt
  ${DATADIR}/applications/orvelbinloader.desktop
  ${DATADIR}/icons/hicolor/48x48/apps/orvelbinloader.png
  ${DATADIR}/icons/hicolor/256x256/apps/orvelbinloader.png
  ${DATADIR}/doc/orvelbinloader/copyright
  ${DATADIR}/doc/orvelbinloader/changelog.gz
  ${DATADIR}/bash-completion/completions/orvel-loader)
foreach(program OrvelBinLoader orvel-sim orvel-mkimages orvel-loader)
  list(APPEND expected ${MANDIR}/man1/${program}.1.gz)
endforeach()
set(missing)
foreach(file ${expected})
  if(NOT EXISTS ${PREFIX}/${file})
    list(APPEND missing ${file})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "not installed: ${missing}")
endif()

# The menu entry starts the installed executable and shows the installed icon.
file(STRINGS ${PREFIX}/${DATADIR}/applications/orvelbinloader.desktop entry)
foreach(line "Exec=OrvelBinLoader" "Icon=orvelbinloader")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "orvelbinloader.desktop lacks ${line}")
  endif()
endforeach()

# The installed sample maker runs and writes its images.
execute_process(COMMAND ${PREFIX}/${BINDIR}/orvel-mkimages ${PREFIX}/samples RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS ${PREFIX}/samples/program.bin)
  message(FATAL_ERROR "installed orvel-mkimages failed: ${status}")
endif()

file(REMOVE_RECURSE ${PREFIX})

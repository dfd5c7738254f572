# The layers of src/, bottom first: "folder library PUBLIC uses... PRIVATE uses...". This is
# the one place the folders, their libraries and the links between them are declared:
# src/CMakeLists.txt adds the folders in this order, each library links exactly what its row
# says (orvel_link_layer), and the layers test (cmake/CheckLayers.cmake) fails on an include
# of a library a folder does not declare, on a link to a row above, and on a README list that
# says otherwise. PUBLIC: the library's headers include the other's; PRIVATE: only its sources.
set(ORVEL_LAYERS
  "abus       orvel_abus"
  "folders    orvel_folders"
  "net        orvel_net"
  "images     orvel_images     PRIVATE orvel_abus"
  "unitrecord orvel_unitrecord PUBLIC orvel_images PRIVATE orvel_net"
  "protocol   orvel_protocol   PUBLIC orvel_abus orvel_images orvel_net"
  "loader     orvel_loader     PUBLIC orvel_protocol orvel_images orvel_unitrecord PRIVATE orvel_abus orvel_net orvel_folders"
  "runners    orvel_runners    PUBLIC orvel_loader orvel_images orvel_unitrecord PRIVATE orvel_net"
  "records    orvel_records    PUBLIC orvel_unitrecord PRIVATE orvel_folders"
  "engine     orvel_engine     PUBLIC orvel_runners orvel_records orvel_loader orvel_unitrecord
                               PRIVATE orvel_protocol orvel_images orvel_net"
  "cli        orvel_cli        PUBLIC orvel_engine orvel_runners orvel_records orvel_unitrecord orvel_images
                               PRIVATE orvel_loader orvel_protocol orvel_abus orvel_net"
  "ui         orvel_ui         PUBLIC orvel_engine orvel_runners orvel_net orvel_unitrecord
                               PRIVATE orvel_records orvel_loader orvel_images orvel_folders orvel_abus")

# Splits one row into LAYER_FOLDER, LAYER_LIBRARY, LAYER_PUBLIC and LAYER_PRIVATE.
function(orvel_read_layer row)
  string(REGEX REPLACE "[ \t\n]+" ";" words "${row}")
  list(POP_FRONT words folder library)
  set(public "")
  set(private "")
  set(into public)
  foreach(word IN LISTS words)
    if(word STREQUAL "PUBLIC" OR word STREQUAL "PRIVATE")
      string(TOLOWER ${word} into)
    else()
      list(APPEND ${into} ${word})
    endif()
  endforeach()
  set(LAYER_FOLDER ${folder} PARENT_SCOPE)
  set(LAYER_LIBRARY ${library} PARENT_SCOPE)
  set(LAYER_PUBLIC "${public}" PARENT_SCOPE)
  set(LAYER_PRIVATE "${private}" PARENT_SCOPE)
endfunction()

# Links the library of the folder's row to the libraries the row names.
function(orvel_link_layer folder)
  foreach(row IN LISTS ORVEL_LAYERS)
    orvel_read_layer("${row}")
    if(LAYER_FOLDER STREQUAL folder)
      if(LAYER_PUBLIC)
        target_link_libraries(${LAYER_LIBRARY} PUBLIC ${LAYER_PUBLIC})
      endif()
      if(LAYER_PRIVATE)
        target_link_libraries(${LAYER_LIBRARY} PRIVATE ${LAYER_PRIVATE})
      endif()
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "cmake/Layers.cmake has no row for the folder ${folder}")
endfunction()

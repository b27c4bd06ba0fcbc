# Fails when a file includes a header from a layer above its own. Run at every build
# (the check_layers target): cmake -DSOURCE_DIR=... -P check_layers.cmake
#
# Each folder and the folders it may include from (comma-separated). A folder sees its own headers and those of
# the layers below it; "app" means the files directly in app/, not its subfolders.
set(core "common,song,fm,fm/ports,capture,playback")
set(layers
    "common=common"
    "song=song,common"
    "fm=fm,common"
    "capture=capture,fm,common"
    "playback=playback,song,fm,common"
    "sound=sound,${core}"
    "app/platform=app/platform,${core}"
    "app=app,app/platform,sound,${core}"
    "app/text=app/text,app,app/platform,sound,${core}"
    "app/render=app/render,app,app/platform,sound,${core}"
    "app/window=app/window,app,app/platform,sound,${core}"
    "app/window_win32=app/window_win32,app,app/platform,sound,${core}"
    "fuzz=fuzz,tests/readers,${core}"
    "tests/readers=tests/readers,${core}")

set(failures "")
foreach(entry IN LISTS layers)
    string(REPLACE "=" ";" parts "${entry}")
    string(REPLACE "," ";" parts "${parts}")
    list(POP_FRONT parts folder)
    set(allowed "${parts}")
    file(GLOB files LIST_DIRECTORIES false "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    # fm/ports is part of fm's library.
    if(folder STREQUAL "fm")
        file(GLOB more "${SOURCE_DIR}/fm/ports/*.h" "${SOURCE_DIR}/fm/ports/*.cpp")
        list(APPEND files ${more})
        list(APPEND allowed "fm/ports")
    endif()
    foreach(file IN LISTS files)
        # The program's entry point wires every front end together; it is no library's.
        if(file STREQUAL "${SOURCE_DIR}/app/main.cpp")
            continue()
        endif()
        file(STRINGS "${file}" includes REGEX "^#include \"[^\"]+\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
            get_filename_component(header_dir "${header}" DIRECTORY)
            if(header_dir STREQUAL "")
                continue()
            endif()
            list(FIND allowed "${header_dir}" at)
            if(at EQUAL -1)
                file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
                string(APPEND failures "\n  ${rel} includes ${header}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(failures)
    message(FATAL_ERROR "Includes that reach up a layer:${failures}")
endif()

# Which folder's sources may include which. A file below the windows that
# includes a widget, or a layer above its own, stops the build with the file
# and the line, so that the layering is kept by the build and not by habit.
#
# store/  may include store/
# modem/  may include store/, modem/
# route/  may include store/, modem/, route/
# pickup/ may include store/, modem/, route/, pickup/
# None of them may include a widget, QtGui or the windows (app/, admin/).
#
# Included by the project, it adds the target that checks on every build;
# run as a script (cmake -DSOURCE=... -P Layers.cmake), it checks.

set(VANTREL_WINDOW_INCLUDE "#include[ \t]*[<\"](QtWidgets/|QtGui/|app/|admin/|ui_|Q(Widget|Application|MessageBox|Dialog|MainWindow|Menu|Action|Icon|Pixmap|Painter|Font|Screen|SystemTrayIcon|GuiApplication|KeyEvent|PlainTextEdit|LineEdit|PushButton|Label)[>\"])")

function(vantrel_refuse_includes folder pattern what)
    file(GLOB sources ${SOURCE}/${folder}/*.cpp ${SOURCE}/${folder}/*.h)
    foreach(source ${sources})
        file(STRINGS ${source} hits REGEX "${pattern}")
        if(hits)
            list(GET hits 0 hit)
            message(FATAL_ERROR "${source}: ${what}: ${hit}")
        endif()
    endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    foreach(folder store modem route pickup)
        vantrel_refuse_includes(${folder} "${VANTREL_WINDOW_INCLUDE}" "no window code below the windows")
    endforeach()
    vantrel_refuse_includes(store "#include[ \t]*\"(modem|route|pickup)/" "store/ is the lowest layer")
    vantrel_refuse_includes(modem "#include[ \t]*\"(route|pickup)/" "modem/ is below route/ and pickup/")
    vantrel_refuse_includes(route "#include[ \t]*\"pickup/" "route/ is below pickup/")
    return()
endif()

add_custom_target(vantrel_layers ALL
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Checking that no layer includes one above it")

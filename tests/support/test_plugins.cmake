# Plug-ins of the tests' own: small shared libraries built from support/plugins/ into one folder
# (SQ_TEST_PLUGIN_DIR). A test copies the ones it needs, under the names it needs, into a plug-in
# folder of its own.
set(SQ_TEST_PLUGIN_DIR ${CMAKE_BINARY_DIR}/testplugins)
target_compile_definitions(sqtestsupport PUBLIC SQ_TEST_PLUGIN_DIR="${SQ_TEST_PLUGIN_DIR}")

# sq_test_plugin(<file name without .so> <source> [compile definitions...])
function(sq_test_plugin name source)
  set(target testplugin_${name})
  add_library(${target} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/support/plugins/${source})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${SQ_TEST_PLUGIN_DIR} C_VISIBILITY_PRESET hidden)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE ${ARGN})
  target_compile_options(${target} PRIVATE ${SQ_WARNINGS})
  target_link_libraries(${target} PRIVATE Threads::Threads)
  add_dependencies(sqtestsupport ${target})
endfunction()

# Input plug-ins: one decoder under several extension lists, and broken ones.
sq_test_plugin(in_tiny in_tiny.c)
sq_test_plugin(in_mp4 in_tiny.c [[EXTENSIONS="mp4"]] [[DESCRIPTION="MP4 decoder"]])
sq_test_plugin(in_ape in_tiny.c [[EXTENSIONS="APE"]] [[DESCRIPTION="APE decoder"]])
sq_test_plugin(in_mp3 in_tiny.c EXTENSIONS_MPEG [[DESCRIPTION="MPEG decoder"]])
sq_test_plugin(in_probe in_tiny.c [[EXTENSIONS=""]] [[DESCRIPTION="Probing decoder"]])
sq_test_plugin(in_noentry in_tiny.c NO_ENTRY)
sq_test_plugin(in_nooutput in_tiny.c NO_OUTPUT)
# DSP plug-ins.
sq_test_plugin(dsp_invert dsp_invert.c)
sq_test_plugin(dsp_double dsp_invert.c DOUBLE [[DESCRIPTION="Doubler"]])
sq_test_plugin(dsp_nonsense dsp_invert.c NONSENSE [[DESCRIPTION="Nonsense"]])
sq_test_plugin(dsp_refuses dsp_invert.c INIT_FAILS [[DESCRIPTION="Refuser"]])
# Device and user-interface plug-ins: the panel comes from the program's qxgui_ calls.
sq_test_plugin(device device_panel.c)
sq_test_plugin(device_res device_panel.c WITH_RESOURCE)
sq_test_plugin(device_sizing device_panel.c SIZING)

# The tests of the device plug-in host (tests/ui/plugins/) hand the plug-ins the windowing layer's
# qxgui_ calls: their programs export their symbols, as the program itself does.
function(sq_export_test_program_symbols)
  get_property(targets DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
  list(FILTER targets INCLUDE REGEX "^ui_plugins_(.*_)?test$")
  foreach(test IN LISTS targets)
    set_target_properties(${test} PROPERTIES ENABLE_EXPORTS ON)
    # The layer's plug-in calls are linked in even when the test itself calls none of them.
    target_link_options(${test} PRIVATE -Wl,--undefined=qxgui_CreateDialogXml)
  endforeach()
endfunction()
cmake_language(DEFER CALL sq_export_test_program_symbols)

# Selection snapping on a large document (Type Selection's companion in the main window).
if(TARGET varnisk_mainwindow)
    add_executable(bench_snapping bench_snapping.cpp)
    target_link_libraries(bench_snapping PRIVATE varnisk_mainwindow Qt::Widgets)
endif()

# The `plots` target: runs the examples that write CSV and the site-count
# benchmark, then scripts/plots.py (Debian's python3-matplotlib) turns them
# into the PNG files under docs/images that the README and the guide show.
# Never run by the tests; the images are committed.
find_program(QRX_PLOT_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(TARGET qrx_layouts AND TARGET qrx_spline_kinds AND TARGET qrx_outside AND TARGET qrx_fit_noisy_data
   AND TARGET bench_sites AND QRX_PLOT_PYTHON)
  set(_qrx_plot_data ${PROJECT_BINARY_DIR}/plot_data)
  add_custom_target(plots
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_qrx_plot_data}
    COMMAND $<TARGET_FILE:qrx_layouts> --csv ${_qrx_plot_data}
    COMMAND $<TARGET_FILE:qrx_spline_kinds> --csv ${_qrx_plot_data}
    COMMAND $<TARGET_FILE:qrx_outside> --csv ${_qrx_plot_data}
    COMMAND $<TARGET_FILE:qrx_fit_noisy_data> --csv ${_qrx_plot_data}
    COMMAND $<TARGET_FILE:bench_sites> --benchmark_min_time=0.05 --benchmark_format=console
            --benchmark_out=${_qrx_plot_data}/sites.json --benchmark_out_format=json
    COMMAND ${QRX_PLOT_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/plots.py ${_qrx_plot_data}
            ${PROJECT_SOURCE_DIR}/docs/images
    DEPENDS qrx_layouts qrx_spline_kinds qrx_outside qrx_fit_noisy_data bench_sites
    COMMENT "Pictures in ${PROJECT_SOURCE_DIR}/docs/images"
    VERBATIM)
endif()

# The wait dialog in real windows: run ctest under xvfb-run (without a display the dialog cannot
# be created and every case fails at once). The test keeps a screenshot of the dialog in
# <build>/artifacts/wait_dialog.bmp.
corvane_gtest(bootstrap_wait_dialog_test SOURCES WaitDialog_test.cpp LIBS bootstrap_core)

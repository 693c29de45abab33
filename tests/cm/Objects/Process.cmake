# Tests of RunProcess and SetProcessExitCode (Process.cpp, ExitCode.cpp).

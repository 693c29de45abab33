/* Stands in for the virtual environment's module: loaded, it makes the log stay silent. */
__declspec(dllexport) int CorvaneVirtualEnvironmentStub(void) { return 0; }

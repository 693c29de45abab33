/* A tiny DLL with two named exports, for the module explorer's tests. */
__declspec(dllexport) int ModExpAlpha(int x) { return x + 1; }
__declspec(dllexport) int ModExpBeta(int x) { return x * 2; }

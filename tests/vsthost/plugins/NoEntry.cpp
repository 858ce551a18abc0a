// A library that exports no plug-in entry point.
extern "C" __declspec(dllexport) int notAPlugin() { return 7; }

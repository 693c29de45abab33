# ModuleExp: PE image parsing (portable) and the module-handle and file constructors (Win32).
target_sources(cm_portable PRIVATE ModuleExp/ModuleExp.cpp ModuleExp/PEStrategies.cpp ModuleExp/ResourceSection.cpp)
if(CORVANE_WIN32)
  target_sources(cm_win32 PRIVATE ModuleExp/ModuleExp_win32.cpp)
endif()

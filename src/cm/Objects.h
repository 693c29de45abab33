// The shared infrastructure unit: errors, formatting, paths, strings and command lines; on
// Windows also files and directories, system wrappers, handles and processes.
#pragma once

#include "cm/Objects/Errors.h"
#include "cm/Objects/Format.h"
#include "cm/Objects/Object.h"
#include "cm/Objects/Strings.h"

#ifdef _WIN32
#include "cm/Objects/FileSystem.h"
#include "cm/Objects/Handles.h"
#include "cm/Objects/Process.h"
#include "cm/Objects/SystemWrappers.h"
#endif

#include "cm/StreamUtils/StreamUtils.h"

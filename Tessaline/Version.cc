#include "Tessaline/Version.h"

#include "ui/seams.h"

#include "net/gbk.h"

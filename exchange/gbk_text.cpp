#include "exchange/gbk_text.h"

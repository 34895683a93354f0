#include "exchange/answer_split.h"

#include "app/cache.h"

void Cache::create()
{
    config.get();
    cameras.get();
}

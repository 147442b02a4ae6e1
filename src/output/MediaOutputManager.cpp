#include "MediaOutputManager.h"

MediaOutputManager& MediaOutputManager::instance()
{
    static MediaOutputManager manager;
    return manager;
}

#include "DataHandler.h"

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
}

void DataHandler::RemoveDataHandlers()
{
    // The events delete marked handlers whenever they next run, so none may be touched again.
    for (EventHandlerRoot* handler : handlers)
        handler->removed = true;
    handlers.clear();
}

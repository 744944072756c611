#include "DataHandler.h"

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
}

void DataHandler::RemoveDataHandlers()
{
    for (EventHandlerRoot* handler : handlers)
        handler->removed = true;
}

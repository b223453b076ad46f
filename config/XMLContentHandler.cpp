#include "config/XMLContentHandler.h"

namespace XML {

ContentHandler::~ContentHandler() = default;

}  // namespace XML

#include "zubstartup.h"

#include "zubapp.h"
#include "zubdoc.h"

bool ZubStartUp(CZubDoc& doc, const std::string& commandLineFile)
{
    ZubApp().InitInstance();
    return commandLineFile.empty() || doc.OnOpenDocument(commandLineFile);
}

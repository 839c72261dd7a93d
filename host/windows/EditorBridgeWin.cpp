#include "WordClientHelper.h"
#include "bridge/EditorBridge.h"

std::unique_ptr<ClientHelper> createEditorBridge()
{
    return std::make_unique<WordClientHelper>();
}

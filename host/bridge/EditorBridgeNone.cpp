#include "bridge/EditorBridge.h"

// A build without a word-processor backend: the base bridge watches the active
// window but recognises no editor, so the tool window says none was detected.
std::unique_ptr<ClientHelper> createEditorBridge()
{
    return std::make_unique<ClientHelper>();
}

#pragma once

#include "bridge/ClientHelper.h"
#include "windows/DialogClient.h"

#include <memory>

// The program's pieces, joined as Revisor runs them.
struct QuilletWiring
{
    std::unique_ptr<ClientHelper> bridge;
    std::unique_ptr<DialogClient> window;
};

// Joins the service client, the platform's editor bridge and the tool window:
// tells the service client who it is, creates the bridge, creates and shows
// the window and hands it the bridge, which starts watching for editor
// windows. Call after initUI(). Tear down in this order: the bridge first,
// then the window.
QuilletWiring wireQuillet();

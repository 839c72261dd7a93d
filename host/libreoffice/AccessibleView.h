#pragma once

#include <com/sun/star/accessibility/XAccessibleContext.hpp>
#include <com/sun/star/frame/XFrame.hpp>

#include <QRect>

#include <chrono>
#include <QString>

struct xcb_connection_t;

// Screen positions of characters in a Writer window, read from the window's
// accessibility tree (FRAME → ROOT_PANE → … → DOCUMENT_TEXT → PARAGRAPH).
// Only paragraphs on screen are in the tree. The document's node is found
// once and kept (the first walk is slow); its paragraphs are read each time.
//
// Under the gtk3 plugin the office's coordinates leave out the native menu
// bar above VCL's frame: y is corrected by the X window's height minus the
// container window's height (0 under the gen plugin).
class AccessibleView
{
public:
    explicit AccessibleView(css::uno::Reference<css::frame::XFrame> frame);
    ~AccessibleView();
    AccessibleView(const AccessibleView&) = delete;
    AccessibleView& operator=(const AccessibleView&) = delete;

    // Screen rectangle of characters [from, to) of the paragraph whose text is
    // paragraphText (the first such paragraph on screen); null when that
    // paragraph is not on screen.
    QRect characterBounds(const QString& paragraphText, int from, int to);
    // Where the document is shown on screen; null when unknown.
    QRect documentBounds();

private:
    css::uno::Reference<css::accessibility::XAccessibleContext> documentContext();
    int verticalCorrection();
    QRect windowGeometry();

    css::uno::Reference<css::frame::XFrame> m_frame;
    css::uno::Reference<css::accessibility::XAccessibleContext> m_document;
    // A walk that found no document is not repeated at once (a headless or
    // hidden window shows none, and a walk costs tens of milliseconds).
    std::chrono::steady_clock::time_point m_lastFailedWalk;
    bool m_walkFailed = false;
    xcb_connection_t* m_xcb = nullptr;
    bool m_xcbTried = false;
};

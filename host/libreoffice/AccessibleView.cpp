#include "AccessibleView.h"
#include "UnoSupport.h"
#include "WriterApplication.h"

#include <com/sun/star/accessibility/AccessibleRole.hpp>
#include <com/sun/star/accessibility/XAccessible.hpp>
#include <com/sun/star/accessibility/XAccessibleComponent.hpp>
#include <com/sun/star/accessibility/XAccessibleText.hpp>
#include <com/sun/star/awt/XWindow.hpp>

#include <xcb/xcb.h>

#include <cstdlib>
#include <deque>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
namespace role = css::accessibility::AccessibleRole;

namespace {

constexpr int kMaxNodes = 400; // a walk gives up after this many nodes

bool isParagraph(sal_Int16 r)
{
    return r == role::PARAGRAPH || r == role::HEADING;
}

} // namespace

AccessibleView::AccessibleView(Reference<frame::XFrame> frame)
    : m_frame(std::move(frame))
{
}

AccessibleView::~AccessibleView()
{
    if (m_xcb)
        xcb_disconnect(m_xcb);
}

Reference<accessibility::XAccessibleContext> AccessibleView::documentContext()
{
    if (m_document.is()) {
        const bool usable = office::guarded("reading the document view", false,
                                            [&] { return m_document->getAccessibleRole() == role::DOCUMENT_TEXT; });
        if (usable)
            return m_document;
        m_document.clear();
    }
    constexpr auto kRetryWalk = std::chrono::seconds(2);
    if (m_walkFailed && std::chrono::steady_clock::now() - m_lastFailedWalk < kRetryWalk)
        return {};
    m_document =
        office::guarded<Reference<accessibility::XAccessibleContext>>("walking the accessibility tree", {}, [&] {
            Reference<accessibility::XAccessible> root(m_frame->getContainerWindow(), UNO_QUERY_THROW);
            std::deque<Reference<accessibility::XAccessibleContext>> queue{root->getAccessibleContext()};
            int visited = 0;
            while (!queue.empty() && visited++ < kMaxNodes) {
                const Reference<accessibility::XAccessibleContext> node = queue.front();
                queue.pop_front();
                if (!node.is())
                    continue;
                if (node->getAccessibleRole() == role::DOCUMENT_TEXT)
                    return node;
                const auto count = node->getAccessibleChildCount();
                for (sal_Int64 i = 0; i < sal_Int64(count) && i < 64; ++i) {
                    Reference<accessibility::XAccessible> child = node->getAccessibleChild(i);
                    if (child.is())
                        queue.push_back(child->getAccessibleContext());
                }
            }
            return Reference<accessibility::XAccessibleContext>();
        });
    return m_document;
}

QRect AccessibleView::characterBounds(const QString& paragraphText, int from, int to)
{
    const Reference<accessibility::XAccessibleContext> document = documentContext();
    if (!document.is())
        return {};
    const rtl::OUString wanted = office::toOUString(paragraphText);
    const QRect bounds = office::guarded<QRect>("reading character positions", {}, [&]() -> QRect {
        // Paragraphs are children of the document, or lie inside tables.
        std::deque<std::pair<Reference<accessibility::XAccessibleContext>, int>> queue{{document, 0}};
        int visited = 0;
        while (!queue.empty() && visited++ < kMaxNodes) {
            auto [node, depth] = queue.front();
            queue.pop_front();
            const auto count = node->getAccessibleChildCount();
            for (sal_Int64 i = 0; i < sal_Int64(count); ++i) {
                Reference<accessibility::XAccessible> child = node->getAccessibleChild(i);
                if (!child.is())
                    continue;
                Reference<accessibility::XAccessibleContext> context = child->getAccessibleContext();
                if (!context.is())
                    continue;
                const sal_Int16 r = context->getAccessibleRole();
                if (!isParagraph(r)) {
                    if (depth < 4 && (r == role::TABLE || r == role::TABLE_CELL || r == role::SECTION))
                        queue.emplace_back(context, depth + 1);
                    continue;
                }
                Reference<accessibility::XAccessibleText> text(context, UNO_QUERY);
                if (!text.is() || text->getText() != wanted)
                    continue;
                const sal_Int32 length = text->getCharacterCount();
                const sal_Int32 first = std::clamp<sal_Int32>(from, 0, std::max<sal_Int32>(0, length - 1));
                const sal_Int32 last =
                    std::clamp<sal_Int32>(std::max(from, to - 1), first, std::max(first, length - 1));
                const awt::Point origin =
                    Reference<accessibility::XAccessibleComponent>(context, UNO_QUERY_THROW)->getLocationOnScreen();
                const awt::Rectangle a = text->getCharacterBounds(first);
                QRect rect(origin.X + a.X, origin.Y + a.Y, a.Width, a.Height);
                if (last != first) {
                    const awt::Rectangle b = text->getCharacterBounds(last);
                    if (b.Y == a.Y) // on the same line: up to the last character's right edge
                        rect.setRight(origin.X + b.X + b.Width - 1);
                }
                if (from >= length && length > 0) // the end of the paragraph: after its last character
                    rect = QRect(rect.right() + 1, rect.top(), 0, rect.height());
                return rect;
            }
        }
        return {};
    });
    if (bounds.isNull())
        return {};
    return bounds.translated(0, verticalCorrection());
}

QRect AccessibleView::documentBounds()
{
    const Reference<accessibility::XAccessibleContext> document = documentContext();
    QRect bounds;
    if (document.is()) {
        bounds = office::guarded<QRect>("reading the document view", {}, [&] {
            Reference<accessibility::XAccessibleComponent> component(document, UNO_QUERY_THROW);
            const awt::Point origin = component->getLocationOnScreen();
            const awt::Size size = component->getSize();
            return QRect(origin.X, origin.Y, size.Width, size.Height);
        });
        if (!bounds.isNull())
            return bounds.translated(0, verticalCorrection());
    }
    return windowGeometry();
}

QRect AccessibleView::windowGeometry()
{
    const quintptr window = WriterApplication::windowIdOf(m_frame);
    if (!m_xcbTried) {
        m_xcbTried = true;
        if (std::getenv("DISPLAY")) {
            m_xcb = xcb_connect(nullptr, nullptr);
            if (xcb_connection_has_error(m_xcb)) {
                xcb_disconnect(m_xcb);
                m_xcb = nullptr;
            }
        }
    }
    if (!m_xcb || !window)
        return {};
    const xcb_window_t id = xcb_window_t(window);
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(m_xcb, xcb_get_geometry(m_xcb, id), nullptr);
    if (!geometry)
        return {};
    xcb_translate_coordinates_reply_t* origin =
        xcb_translate_coordinates_reply(m_xcb, xcb_translate_coordinates(m_xcb, id, geometry->root, 0, 0), nullptr);
    QRect rect;
    if (origin)
        rect = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    std::free(origin);
    std::free(geometry);
    return rect;
}

int AccessibleView::verticalCorrection()
{
    const QRect window = windowGeometry();
    if (window.isNull())
        return 0;
    const int containerHeight = office::guarded(
        "reading the window size", 0, [&] { return int(m_frame->getContainerWindow()->getPosSize().Height); });
    const int correction = window.height() - containerHeight;
    return correction > 0 && containerHeight > 0 ? correction : 0;
}

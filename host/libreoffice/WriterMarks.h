#pragma once

#include "automation/Automation.h"

#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XSynchronousDispatch.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/uno/XInterface.hpp>

#include <QString>

#include <memory>
#include <vector>

class QObject;
class WriterText;

// The proofreading marks of one Writer document. They are not formatting: the
// office draws them through Quillet's office extension (quillet-marks.oxt,
// the proofreader it asks for Chinese text), which reports, for each
// paragraph the office checks, the marks set here. Nothing of the document
// changes when marks are set or taken off.
//
// The marks are kept here as stretches of characters, each with a text cursor
// in the office (which the office moves along with edits) and the text it
// covered. They follow the user's edits: text changed before a stretch moves
// it, text typed into or over it takes those characters out of it, and text
// typed next to it is not marked. After every change the whole set is sent to
// the extension in one call, at the end of the event-loop turn.
class WriterMarks
{
public:
    explicit WriterMarks(WriterText& text);
    ~WriterMarks();

    // Whether every character of [start, end) is marked; for start == end,
    // the character before start.
    bool covers(int start, int end);
    // cursor, when given, spans [start, end) (a range's own cursor: the mark
    // shares it, which saves making one).
    void set(int start, int end, bool marked,
             const css::uno::Reference<css::text::XTextCursor>& cursor = css::uno::Reference<css::text::XTextCursor>());
    void clear();
    bool isEmpty() const { return m_stretches.empty(); }
    // The marked stretches as offsets (after following the latest edits).
    std::vector<std::pair<int, int>> stretches();

    // Whether the office can show the marks now: the extension is installed
    // and the office's automatic checking is on.
    automation::MarkDisplay display();

    // A page as the office extension reads it: the page that shows a position,
    // or page number n, with text ranges at its first and last position. The
    // extension moves the view cursor there and back on the office's own
    // thread in one go, so that a key pressed meanwhile still lands at the
    // caret. supported is false when the extension is missing or older (the
    // caller reads the page itself); page is 0 when the office could not read it.
    struct Page
    {
        bool supported = false;
        int page = 0;
        css::uno::Reference<css::text::XTextRange> first;
        css::uno::Reference<css::text::XTextRange> last;
    };
    Page pageAt(const css::uno::Reference<css::frame::XController>& controller,
                const css::uno::Reference<css::text::XTextRange>& at);
    // Page n (-1: the last page; a page past the end gives the last).
    Page pageNumber(const css::uno::Reference<css::frame::XController>& controller, int n);

    // Removes marks that an older Quillet wrote as formatting (a wave
    // underline in the mark's colour) in one replace, as one undo step that
    // leaves the modified flag as it was. Nothing happens when there are none.
    void removeFormattingMarks();

private:
    struct Stretch
    {
        int start = 0;
        int end = 0;
        QString text;
        css::uno::Reference<css::text::XTextCursor> cursor;
    };

    // Brings the stretches up to the document's current text.
    void follow();
    void add(int start, int end, const css::uno::Reference<css::text::XTextCursor>& cursor);
    void remove(int start, int end);
    bool makeCursor(Stretch& stretch);
    // recheck: the office is to proofread again to draw the change (not
    // needed when the change follows the user's edit, which the office
    // checks by itself).
    void schedulePublish(bool recheck = true);
    void publish();
    css::uno::Reference<css::frame::XSynchronousDispatch> layer();
    Page askPage(const css::uno::Reference<css::frame::XController>& controller, const char* name,
                 const css::uno::Any& value);

    WriterText& m_text;
    std::vector<Stretch> m_stretches;
    QString m_seen; // the document's text the stretches' offsets belong to
    bool m_published = true;
    bool m_recheck = false;
    bool m_publishPosted = false;
    bool m_layerLooked = false;
    bool m_pagesUnsupported = false; // the extension does not read pages
    css::uno::Reference<css::frame::XSynchronousDispatch> m_layer;
    css::uno::Reference<css::uno::XInterface> m_owner;
    std::unique_ptr<QObject> m_context;
};

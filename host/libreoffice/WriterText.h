#pragma once

#include "automation/Automation.h"

#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class OfficeConnection;
class WriterMarks;
class WriterRange;

// The shared state of one Writer document behind its automation objects, and
// the translation between the positions the logic uses (offsets in UTF-16
// units into the document's text, as the body's getString() gives it, table
// cells included) and UNO text positions.
//
// Positions are reached with text cursors: goRight counts code points (so
// offsets are converted), moves at most 32767 at a time, counts the text of a
// table it crosses but cannot stop inside one (a body cursor jumps past the
// table). Positions inside a table are therefore reached through the cell's
// own text. The map of tables and cells is read with the text and kept until
// control returns to the event loop or one of our own edits changes the text.
class WriterText
{
public:
    WriterText(std::shared_ptr<OfficeConnection> connection, css::uno::Reference<css::frame::XModel> model);
    ~WriterText();

    const std::shared_ptr<OfficeConnection>& connection() const { return m_connection; }
    const css::uno::Reference<css::frame::XModel>& model() const { return m_model; }
    css::uno::Reference<css::frame::XController> controller();
    css::uno::Reference<css::text::XText> body() const { return m_body; }
    css::uno::Reference<css::text::XTextViewCursor> viewCursor();
    // False once the office has gone or the document was closed: Writer
    // crashes on some calls into a closed document, so none is made then.
    bool isAlive() const;

    // The document's text; empty when it cannot be read.
    QString text();
    // Counts changes of offsets: a range's cached offsets are good while this
    // stays the same.
    quint64 generation() const { return m_generation; }
    // Counts changes of the document's text: offsets read while this stays the
    // same still hold in a later turn of the event loop (where nothing of the
    // text changed, nothing moved). Reads the text when its map is not fresh.
    quint64 textVersion();
    // Our own edit changed the text: the map is read again when next needed.
    void textChanged();

    // A text position: the text (body or cell) that holds it and a collapsed
    // cursor there.
    struct Position
    {
        css::uno::Reference<css::text::XText> text;
        css::uno::Reference<css::text::XTextCursor> cursor;
    };
    // The position at offset; an empty Position when offset is outside the
    // document or cannot be reached. An offset on the separator after a cell's
    // last character is that cell's end.
    Position positionAt(int offset);
    // A cursor spanning [start, end) when both lie in the same text (body or
    // one cell); null otherwise.
    // text, when given, receives the text that holds the cursor.
    css::uno::Reference<css::text::XTextCursor> cursorFor(int start, int end,
                                                          css::uno::Reference<css::text::XText>* text = nullptr);
    // The offset of position (which lies in text); -1 when unknown.
    int offsetOf(const css::uno::Reference<css::text::XText>& text,
                 const css::uno::Reference<css::text::XTextRange>& position);
    // The properties of the walker when it spans exactly [start, end) of text
    // in this generation of the map; null otherwise.
    css::uno::Reference<css::beans::XMultiPropertySet>
    propertiesSpanning(const css::uno::Reference<css::text::XText>& text, int start, int end);
    // The text (body or one cell) that holds all of [start, end); null when
    // the range crosses from one text into another or cannot be reached.
    css::uno::Reference<css::text::XText> holderOf(int start, int end);
    // Spans the walker over [start, end) of text and gives its properties;
    // null when that fails.
    css::uno::Reference<css::beans::XMultiPropertySet> walkTo(const css::uno::Reference<css::text::XText>& text,
                                                              int start, int end);

    // Ranges made from offsets get their cursor only when they need one
    // (most only have their text and formatting read). Those still without
    // one when the text map is dropped (before an edit of ours, at the end of
    // the event-loop turn) get it then, while their offsets still hold.
    void deferCursor(const std::shared_ptr<WriterRange>& range);
    void settleRanges();

    // The formatting of the one character at [start, end) of text. It is
    // read with the characters after it (one call for a run of them, as
    // stepping over a page asks for each in turn) and kept while no
    // formatting changes and the text map holds. nullopt when unknown.
    std::optional<automation::Font> characterFont(const css::uno::Reference<css::text::XText>& text, int start,
                                                  int end);
    // Some formatting changed (on any thread): runs read before are stale.
    void formattingChanged() { ++*m_formatting; }

    // Whether offsets a <= b lie in the same text with no table between them
    // (a cursor can move from one to the other).
    bool sameText(int a, int b);
    // Whether text is the body or a cell of a top-level table.
    bool knows(const css::uno::Reference<css::text::XText>& text);

    // The pieces of [start, end) that lie in one text each (body stretches
    // between tables, cells), as cursors spanning them.
    std::vector<css::uno::Reference<css::text::XTextCursor>> pieces(int start, int end);

    // The page that shows the position at offset; where one page ends and the
    // next begins, the next. The bounds of each page asked for are kept like
    // the text map, so stepping through a page costs one lookup. nullopt when
    // unknown.
    std::optional<int> pageAt(int offset);

    // Moves of the view cursor that the user must not see: the controllers
    // are locked, the selection is put back afterwards, and selection events
    // raised meanwhile on this thread are dropped. byOffice: the office
    // extension moves the cursor and puts it back itself (see
    // WriterMarks::pageAt); only the selection events are dropped.
    class ViewMove
    {
    public:
        explicit ViewMove(WriterText& text, bool byOffice = false);
        ~ViewMove();
        const css::uno::Reference<css::text::XTextViewCursor>& cursor() const { return m_cursor; }

    private:
        WriterText& m_text;
        css::uno::Reference<css::text::XTextViewCursor> m_cursor;
        css::uno::Reference<css::text::XTextRange> m_start;
        css::uno::Reference<css::text::XTextRange> m_end;
        bool m_locked = false;
    };
    bool suppressingSelectionEvents() const { return m_viewMoves > 0; }
    // Our own changes to the document (a marking pass, a restore) between
    // these calls: the controllers are locked, so Writer lays out and tells
    // the view once at the end instead of at every change (which also costs
    // a call back into this program each time), and the selection events
    // that telling raises within these calls are not taken for the user's.
    // Calls nest.
    void beginChange();
    void endChange();
    // The document's proofreading marks.
    WriterMarks& marks() { return *m_marks; }

    // Whether a hidden move ended so recently that a selection event arriving
    // now may be the office's late report of it.
    bool viewMovedRecently() const;

private:
    struct Cell
    {
        css::uno::Reference<css::text::XText> text;
        int start = 0;
        int length = 0;
    };
    struct Table
    {
        int start = 0; // first character of the first cell
        int end = 0;   // first position after the table (its last separator included)
        std::vector<Cell> cells;
    };

    void ensureMap();
    void readTables();
    int codePoints(int offset) const;
    const Cell* cellAt(int offset) const;
    css::uno::Reference<css::text::XTextCursor> bodyCursorAt(int offset);
    bool goRight(const css::uno::Reference<css::text::XTextCursor>& cursor, int count, bool expand);

    std::shared_ptr<OfficeConnection> m_connection;
    css::uno::Reference<css::frame::XModel> m_model;
    css::uno::Reference<css::text::XText> m_body;
    css::uno::Reference<css::text::XTextViewCursor> m_viewCursor;
    std::unique_ptr<QObject> m_context; // receives the end of the event-loop turn
    std::shared_ptr<std::atomic<bool>> m_closed = std::make_shared<std::atomic<bool>>(false);
    css::uno::Reference<css::lang::XEventListener> m_closeWatch;

    struct PageSpan
    {
        int first = 0;
        int last = 0; // the position after the page's last character
        int page = 0;
    };
    // A private cursor that new positions are reached from: moving it from
    // the last span asked for costs one or two calls, where walking from the
    // start of the document costs three and the office a walk over all the
    // text before. It spans [start, end) (its moving end at end) and is good
    // while the text map is. A range created from it reads and writes
    // formatting through it while it still spans that range, which saves
    // asking the new cursor for its property interface.
    struct Walker
    {
        css::uno::Reference<css::text::XText> text;
        css::uno::Reference<css::text::XTextCursor> cursor;
        css::uno::Reference<css::beans::XMultiPropertySet> properties;
        int start = -1;
        int end = -1;
        quint64 generation = 0;
    };
    Walker m_walker;
    // The text (body or cell) that holds offset; null inside a table whose
    // cells are not mapped.
    css::uno::Reference<css::text::XText> textAt(int offset) const;
    // Makes the walker span [start, end), which lie in text with no table
    // between them; false when that fails. Throws what the office throws.
    bool spanWalker(const css::uno::Reference<css::text::XText>& text, int start, int end);
    bool moveWalker(const css::uno::Reference<css::text::XText>& text, int start, int end);

    std::vector<std::weak_ptr<WriterRange>> m_deferred;
    std::unique_ptr<WriterMarks> m_marks;

    struct FontRun
    {
        css::uno::Reference<css::text::XText> text;
        int start = -1;
        int end = -1;
        automation::Font font;
        quint64 generation = 0;
        quint64 formatting = 0;
    };
    FontRun m_fontRun;
    int m_runLength = 4; // characters read with the one asked for
    std::shared_ptr<std::atomic<quint64>> m_formatting = std::make_shared<std::atomic<quint64>>(0);
    // The end of the stretch of one text (body between tables, a cell) that
    // holds offset.
    int stretchEnd(int offset) const;

    std::vector<PageSpan> m_pages;
    quint64 m_pagesGeneration = 0;

    bool m_mapValid = false;
    bool m_invalidationPosted = false;
    quint64 m_generation = 1;
    quint64 m_textVersion = 1;
    QString m_text;
    std::vector<int> m_lowSurrogates; // offsets of the second halves of surrogate pairs
    std::vector<Table> m_tables;
    int m_viewMoves = 0;
    std::vector<bool> m_changeLocks; // per open change: whether it locked the controllers
    std::chrono::steady_clock::time_point m_viewMoveEnd;
};

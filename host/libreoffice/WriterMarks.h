#pragma once

#include "automation/Automation.h"

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
    void set(int start, int end, bool marked);
    void clear();
    bool isEmpty() const { return m_stretches.empty(); }
    // The marked stretches as offsets (after following the latest edits).
    std::vector<std::pair<int, int>> stretches();

    // Whether the office can show the marks now: the extension is installed
    // and the office's automatic checking is on.
    automation::MarkDisplay display();

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
    void add(int start, int end);
    void remove(int start, int end);
    bool makeCursor(Stretch& stretch);
    void schedulePublish();
    void publish();
    css::uno::Reference<css::frame::XSynchronousDispatch> layer();

    WriterText& m_text;
    std::vector<Stretch> m_stretches;
    QString m_seen; // the document's text the stretches' offsets belong to
    bool m_published = true;
    bool m_publishPosted = false;
    bool m_layerLooked = false;
    css::uno::Reference<css::frame::XSynchronousDispatch> m_layer;
    css::uno::Reference<css::uno::XInterface> m_owner;
    std::unique_ptr<QObject> m_context;
};

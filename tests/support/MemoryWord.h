#pragma once

#include "automation/Automation.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// An in-memory word processor behind the automation interface, for fast and
// exact tests of the document logic.
//
// A document is text with an underline style and colour per character and an
// identity per character (its position in the original text; -1 for
// characters written later), so that a test can tell which characters a
// change touched. Paragraphs end with "\r" and each starts a new line; a line
// holds charsPerLine characters and a page linesPerPage lines. Sentences end
// after 。！？!?； or a paragraph mark. Ranges are live: they follow edits as
// the editor's do. Events go to the advised sinks synchronously, with their
// parameters last declared first. Every automation call is counted by name
// ("Range.Text", "Document.Range", "Range.Font", ...). A document that was
// closed, or an application that was killed, answers every call with the
// empty result.
namespace memoryword {

class MemoryApplication;
class MemoryRange;

struct Layout
{
    int charsPerLine = 20;
    int linesPerPage = 5;
};

// The calls made on one application's objects.
struct CallCounter
{
    QHash<QString, int> byName;
    int total = 0;
    void hit(const char* name)
    {
        ++byName[QString::fromLatin1(name)];
        ++total;
    }
    int of(const QString& name) const { return byName.value(name); }
    int ofPrefix(const QString& prefix) const;
    void reset()
    {
        byName.clear();
        total = 0;
    }
};

class MemoryDocument : public automation::Document, public std::enable_shared_from_this<MemoryDocument>
{
public:
    MemoryDocument(MemoryApplication* application, QString fullName, QString text, Layout layout);

    // --- For tests: direct access, neither counted nor undoable ---
    const QString& plainText() const { return m_text; }
    automation::Font fontAt(int i) const { return m_fonts[static_cast<size_t>(i)]; }
    void setFontAt(int i, const automation::Font& font) { m_fonts[static_cast<size_t>(i)] = font; }
    // Hidden characters are left out of every range's text, as an editor
    // leaves out hidden text or field codes.
    void setHidden(int i, bool hidden = true) { m_hidden[static_cast<size_t>(i)] = hidden; }
    bool isHidden(int i) const { return m_hidden[static_cast<size_t>(i)]; }
    const std::vector<automation::Font>& fonts() const { return m_fonts; }
    // Marks drawn apart from the text (MarkStyle::Overlay): a flag per
    // character that follows edits; characters typed later are not marked.
    void setMarkStyle(automation::MarkStyle style) { m_markStyle = style; }
    void setMarkDisplay(automation::MarkDisplay display) { m_markDisplay = display; }
    bool overlayMarkAt(int i) const { return m_overlay[static_cast<size_t>(i)]; }
    const std::vector<bool>& overlayMarks() const { return m_overlay; }
    const std::vector<int>& identities() const { return m_ids; }
    int pageCount() const;
    int pageOf(int position) const;
    int pageStart(int page) const;
    // Moves the selection without an event.
    void setSelection(int start, int end);
    int selectionStart() const { return m_selStart; }
    int selectionEnd() const { return m_selEnd; }
    int undoSteps() const { return m_undoSteps; }
    int undoDepth() const { return m_undoDepth; }
    bool modifiedFlag() const { return m_modified; }
    void setModifiedFlag(bool modified) { m_modified = modified; }
    bool isAlive() const;
    void markClosed() { m_closed = true; }
    // Fonts as written by the last save.
    const std::vector<automation::Font>& savedFonts() const { return m_savedFonts; }
    void takeSnapshot() { m_savedFonts = m_fonts; }

    // --- automation::Document ---
    std::shared_ptr<automation::Range> content() override;
    std::shared_ptr<automation::Range> range(int start, int end) override;
    QString fullName() override;
    void enterUndoContext(const QString& title) override;
    void leaveUndoContext() override;
    bool isModified() override;
    void setModified(bool modified) override;
    automation::MarkStyle markStyle() override { return m_markStyle; }
    automation::MarkDisplay markDisplay() override { return m_markDisplay; }

    // --- Used by the document's ranges ---
    bool overlayMarked(int start, int end) const;
    void setOverlayMarked(int start, int end, bool marked);
    CallCounter& calls();
    std::shared_ptr<MemoryRange> makeRange(int start, int end);
    std::optional<automation::Font> fontOf(int start, int end) const;
    void applyFont(int start, int end, const automation::Font& font);
    void replaceText(int start, int end, const QString& text, MemoryRange* writer);
    int length() const { return m_text.size(); }
    int lineOf(int position) const;
    int lineStart(int line) const;
    int lineCount() const;
    int paragraphStartAt(int position) const;
    int paragraphEndAt(int position) const;
    int sentenceStartAt(int position) const;
    int sentenceEndAt(int position) const;
    void select(int start, int end);
    MemoryApplication* application() const { return m_application; }

private:
    void changed();
    void layOut() const;

    MemoryApplication* m_application;
    QString m_fullName;
    QString m_text;
    std::vector<automation::Font> m_fonts;
    std::vector<int> m_ids;
    std::vector<bool> m_hidden;
    std::vector<bool> m_overlay;
    automation::MarkStyle m_markStyle = automation::MarkStyle::Formatting;
    automation::MarkDisplay m_markDisplay = automation::MarkDisplay::Shown;
    std::vector<automation::Font> m_savedFonts;
    Layout m_layout;
    mutable std::vector<int> m_lineStarts;
    mutable bool m_layoutValid = false;
    std::vector<std::weak_ptr<MemoryRange>> m_ranges;
    int m_selStart = 0;
    int m_selEnd = 0;
    int m_undoDepth = 0;
    int m_undoSteps = 0;
    bool m_changedInContext = false;
    bool m_modified = false;
    bool m_closed = false;
};

class MemoryApplication : public automation::Application, public std::enable_shared_from_this<MemoryApplication>
{
public:
    MemoryApplication();

    std::shared_ptr<MemoryDocument> addDocument(const QString& fullName, const QString& text, Layout layout = {});
    void activate(const std::shared_ptr<MemoryDocument>& document);
    // The user's actions, each with the event the editor raises.
    void moveCaret(const std::shared_ptr<MemoryDocument>& document, int start, int end);
    // The user types text over [start, end) (inserts it where they are
    // equal): the caret ends after it, and the editor raises a document
    // change, then a selection change.
    void type(const std::shared_ptr<MemoryDocument>& document, int start, int end, const QString& text);
    void save(const std::shared_ptr<MemoryDocument>& document);
    void close(const std::shared_ptr<MemoryDocument>& document);
    void deactivate();
    void resize();
    // Raises an event with any parameter list.
    std::vector<long> fire(int eventId, const std::vector<automation::Variant>& parameters);
    // The editor goes away: every later call answers empty.
    void kill() { m_killed = true; }
    bool killed() const { return m_killed; }
    int sinkCount() const { return static_cast<int>(m_sinks.size()); }

    CallCounter& calls() { return m_calls; }
    std::shared_ptr<MemoryDocument> activeMemoryDocument() const { return m_active; }

    // --- automation::Application ---
    std::shared_ptr<automation::Document> activeDocument() override;
    std::shared_ptr<automation::Window> activeWindow() override;
    std::shared_ptr<automation::Selection> selection() override;
    QString version() override;
    int advise(const std::shared_ptr<automation::EventSink>& sink) override;
    void unadvise(int cookie) override;

private:
    std::vector<std::shared_ptr<MemoryDocument>> m_documents;
    std::shared_ptr<MemoryDocument> m_active;
    std::vector<std::pair<int, std::shared_ptr<automation::EventSink>>> m_sinks;
    int m_nextCookie = 1;
    CallCounter m_calls;
    bool m_killed = false;
};

} // namespace memoryword

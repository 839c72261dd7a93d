#pragma once

// The automation interface: the word processor's object model as the host's
// document logic (WordHelper) uses it. A backend (LibreOffice over UNO, the
// in-memory word processor of the tests, later Word/WPS over COM) implements
// these classes; the logic is written once against them.
//
// Conventions every backend keeps:
// - Objects are held by std::shared_ptr; a null pointer is the empty result.
//   No call throws. A call that fails answers its empty result: null object,
//   0, false, empty text, std::nullopt. The logic checks what it needs and
//   stops quietly.
// - Positions are character offsets into the document's text as
//   Document::content()->text() delivers it, counted in UTF-16 units (the units
//   of QString). A backend whose editor counts otherwise converts.
// - Text is delivered unchanged: paragraph marks, cell marks and control
//   characters stay as the editor gives them.
// - Every call is made on the GUI thread, and events reach the sink on the GUI
//   thread; a backend whose editor calls back on other threads queues them.
// - Ranges are live: like the editor's own ranges they follow edits made
//   before or inside them, so a range taken before an edit still covers the
//   same characters afterwards.
//
// This header uses Qt Core only (QString), so that a backend for another
// platform can implement it without the widget libraries.

#include <QString>

#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace automation {

// --- The word processor's constants (Word's enumeration values) ------------
enum : int {
    GoToPage = 1,     // GoTo what: page
    GoToLine = 3,     // GoTo what: line
    GoToAbsolute = 1, // GoTo which: absolute number
    GoToLast = -1,    // GoTo which: the last one

    ActiveEndPageNumber = 3, // Information type: page of the active end

    UnitCharacter = 1,
    UnitSentence = 3,

    ReplaceAll = 2, // Find::execute replace: every match

    UnderlineNone = 0,
    UnderlineWavyHeavy = 27, // the mark's underline style
};

// Colours in the word processor's 0x00BBGGRR encoding.
constexpr int ColorAutomatic = static_cast<int>(0xFF000000); // -16777216
constexpr int MarkColor = 0x000001F0;                        // 496: red 240, green 1, blue 0

// Read from a range whose characters differ in that property.
constexpr int Undefined = 9999999;

// Results of an event handler (COM's HRESULT values).
constexpr long ResultOk = 0;
constexpr long ResultFalse = 1;
constexpr long ResultInvalidArg = static_cast<long>(0x80070057);

// Event ids of the application's events.
enum : int {
    EventDocumentBeforeClose = 6,    // parameters: cancel flag, document
    EventDocumentBeforeSave = 8,     // parameters: cancel flag, save-as-dialog flag, document
    EventWindowDeactivate = 11,      // parameters: window, document
    EventWindowSelectionChange = 12, // parameters: selection
    EventWindowSize = 25,            // parameters: window, document
    // The document's text changed (typed, pasted, deleted, undone, or edited
    // by a program). Raised by editors that can tell at once; the handler
    // must be quick, it runs for every keystroke.
    EventDocumentChange = 1001, // parameters: document
};

class Object;
class Application;
class Window;
class Document;
class Selection;
class Range;
class Paragraphs;
class Paragraph;
class Find;

// Character formatting as the logic reads and writes it: underline style and
// underline colour. A property whose characters differ reads Undefined; a
// property set to Undefined is left as it is when written.
struct Font
{
    int underline = UnderlineNone;
    int underlineColor = ColorAutomatic;

    bool operator==(const Font& other) const
    {
        return underline == other.underline && underlineColor == other.underlineColor;
    }
    bool operator!=(const Font& other) const { return !(*this == other); }
    bool isMixed() const { return underline == Undefined || underlineColor == Undefined; }
};

// The proofreading mark as character formatting (editors whose marks are
// formatting write it over the marked characters): a wavy heavy underline in
// MarkColor. Only both together are the mark.
constexpr Font MarkFont{UnderlineWavyHeavy, MarkColor};
constexpr Font PlainFont{UnderlineNone, ColorAutomatic};
inline bool isMarkFont(const Font& font)
{
    return font.underline == MarkFont.underline && font.underlineColor == MarkFont.underlineColor;
}

// How an editor shows proofreading marks.
enum class MarkStyle {
    // As character formatting: MarkFont is written over the marked characters,
    // and the logic saves the formatting it covers and writes it back, each
    // operation one undo step.
    Formatting,
    // Drawn by the editor apart from the document: marking changes nothing of
    // the document (no formatting, no undo step, no modified flag), and a mark
    // never reaches a file, a print or the clipboard.
    Overlay,
};

// Whether an editor that draws marks itself can show them now.
enum class MarkDisplay {
    Shown,
    NotInstalled,  // the editor's part that draws them is missing
    AutoSpellOff,  // the editor draws no marks while its automatic spell checking is off
    AutoGrammarOff // ... or while its grammar checking while typing is off
};

// An event parameter: nothing, a flag, a number, a text or an object.
using Variant = std::variant<std::monostate, bool, int, QString, std::shared_ptr<Object>>;

// Base of every automation object, so that an event parameter can be asked
// which object it is (std::dynamic_pointer_cast).
class Object
{
public:
    virtual ~Object() = default;
};

// Receives the application's events. Parameters come in the automation
// convention: last declared parameter first (see the event ids above).
// The answer is ResultOk, ResultFalse or ResultInvalidArg.
class EventSink
{
public:
    virtual ~EventSink() = default;
    virtual long onEvent(int eventId, const std::vector<Variant>& parameters) = 0;
};

// The word processor as seen from one editor window.
class Application : public Object
{
public:
    virtual std::shared_ptr<Document> activeDocument() = 0;
    virtual std::shared_ptr<Window> activeWindow() = 0;
    virtual std::shared_ptr<Selection> selection() = 0;
    virtual QString version() = 0;
    // Delivers the application's events to sink until unadvise(cookie).
    // Returns a cookie above 0, or 0 when the events cannot be had.
    virtual int advise(const std::shared_ptr<EventSink>& sink) = 0;
    virtual void unadvise(int cookie) = 0;
};

class Window : public Object
{
public:
    // Screen rectangle of the range in pixels; false when it is not known
    // (the outputs are then untouched).
    virtual bool getPoint(int& left, int& top, int& width, int& height, const std::shared_ptr<Range>& range) = 0;
};

class Selection : public Object
{
public:
    // The caret or the selected text as a range.
    virtual std::shared_ptr<Range> range() = 0;
    // Information(type); ActiveEndPageNumber gives the 1-based page number.
    virtual std::optional<int> information(int type) = 0;
    // The document the selection belongs to.
    virtual std::shared_ptr<Document> document() = 0;
};

class Document : public Object
{
public:
    // The whole document as a range.
    virtual std::shared_ptr<Range> content() = 0;
    // The range [start, end); null when the positions lie outside the document.
    virtual std::shared_ptr<Range> range(int start, int end) = 0;
    // The document's identity: its full file name or, unsaved, its title.
    virtual QString fullName() = 0;

    // Gathers every change until the matching leaveUndoContext() into one undo
    // step named title; nested contexts join the outermost one.
    virtual void enterUndoContext(const QString& title) = 0;
    virtual void leaveUndoContext() = 0;
    // Whether the document has unsaved changes; setModified(false) tells the
    // editor that nothing needs saving.
    virtual bool isModified() = 0;
    virtual void setModified(bool modified) = 0;

    // How this editor shows proofreading marks (see MarkStyle).
    virtual MarkStyle markStyle() { return MarkStyle::Formatting; }
    // For MarkStyle::Overlay: whether the marks can be seen now.
    virtual MarkDisplay markDisplay() { return MarkDisplay::Shown; }
};

class Range : public Object
{
public:
    virtual QString text() = 0;
    // Replaces the range's text; the range then covers the new text. New
    // characters take the formatting of the first replaced character.
    virtual void setText(const QString& text) = 0;
    virtual int start() = 0;
    virtual int end() = 0;
    virtual void setEnd(int end) = 0;
    virtual void setRange(int start, int end) = 0;

    // The range's character formatting; nullopt when it cannot be read.
    virtual std::optional<Font> font() = 0;
    virtual void setFont(const Font& font) = 0;

    // Whether every character of the range carries the proofreading mark; a
    // collapsed range asks about the character before it (the one whose
    // formatting typing there takes). Formatting editors answer from font().
    virtual bool isMarked()
    {
        const std::optional<Font> current = font();
        return current && isMarkFont(*current);
    }
    // Marks the range's characters, or takes the mark off them. Formatting
    // editors write MarkFont, or PlainFont when unmarking (the logic writes
    // the saved formatting itself where it has it).
    virtual void setMarked(bool marked) { setFont(marked ? MarkFont : PlainFont); }

    virtual std::shared_ptr<Paragraphs> paragraphs() = 0;

    // A collapsed range at the start of the target (page or line, by absolute
    // number or the last one); count is left out for GoToLast. Null when the
    // target cannot be reached. A page past the end gives the last page.
    virtual std::shared_ptr<Range> goTo(int what, int which, std::optional<int> count = std::nullopt) = 0;
    // The unit after this range (starting at its end) or before it (ending at
    // its start); null at the document's end or start.
    virtual std::shared_ptr<Range> next(int unit = UnitCharacter, int count = 1) = 0;
    virtual std::shared_ptr<Range> previous(int unit = UnitCharacter, int count = 1) = 0;
    // Whether this range lies within other.
    virtual bool inRange(const std::shared_ptr<Range>& other) = 0;
    // Grows the range to whole units (UnitSentence: the sentences it touches).
    virtual void expand(int unit) = 0;
    virtual std::optional<int> information(int type) = 0;
    // Makes this range the document's selection (this raises the selection
    // change event like a move of the user's).
    virtual void select() = 0;

    // A find-and-replace over this range.
    virtual std::shared_ptr<Find> find() = 0;
};

class Paragraphs : public Object
{
public:
    virtual int count() = 0;
    // The 1-based paragraph i; null outside 1..count().
    virtual std::shared_ptr<Paragraph> item(int index) = 0;
};

class Paragraph : public Object
{
public:
    virtual std::shared_ptr<Range> range() = 0;
};

// Formatting find-and-replace with empty find and replacement texts: every
// run whose formatting matches the find font gets the replacement font.
class Find : public Object
{
public:
    virtual void clearFormatting() = 0;
    virtual void setFont(const Font& font) = 0;
    virtual void clearReplacementFormatting() = 0;
    virtual void setReplacementFont(const Font& font) = 0;
    // Runs the search; with replace = ReplaceAll every match is replaced.
    // True when something matched.
    virtual bool execute(bool forward, bool format, int replace) = 0;
};

} // namespace automation

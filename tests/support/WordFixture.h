#pragma once

#include "MemoryWord.h"
#include "bridge/WordHelper.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

// A wrapper attached to an in-memory word processor holding one document.
struct WordFixture
{
    std::shared_ptr<memoryword::MemoryApplication> app = std::make_shared<memoryword::MemoryApplication>();
    std::shared_ptr<memoryword::MemoryDocument> doc;
    std::unique_ptr<WordHelper> helper = std::make_unique<WordHelper>();

    explicit WordFixture(const QString& text, memoryword::Layout layout = {}, const QString& name = "/docs/a.docx")
    {
        doc = app->addDocument(name, text, layout);
        helper->attach(reinterpret_cast<HWND>(quintptr(0x1234)), app);
    }

    // The caret at position at (or a selection), without an event.
    void caret(int start, int end = -1) { doc->setSelection(start, end < 0 ? start : end); }
    bool markedAt(int i) const
    {
        const automation::Font f = doc->fontAt(i);
        return f.underline == automation::UnderlineWavyHeavy && f.underlineColor == automation::MarkColor;
    }
    QString markedText() const
    {
        QString text;
        for (int i = 0; i < doc->plainText().size(); ++i)
            text += markedAt(i) ? doc->plainText()[i] : QChar('.');
        return text;
    }
};

// A finding of wrong text with suggestions, its spans covering the whole text
// unless given.
inline std::shared_ptr<CCheckData> makeFinding(const QString& wrong, const QStringList& suggestions = {},
                                               std::vector<std::pair<int, int>> spans = {}, int type = 0x01)
{
    auto data = std::make_shared<CCheckData>();
    data->text = wrong.toStdString();
    data->type = type;
    if (spans.empty())
        spans.emplace_back(0, wrong.size() - 1);
    data->spans = std::move(spans);
    std::vector<CDataItemValue> items;
    for (const QString& s : suggestions)
        items.emplace_back(s.toStdString(), 1);
    data->suggestions = std::move(items);
    return data;
}

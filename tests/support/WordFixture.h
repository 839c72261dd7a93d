#pragma once

#include "MemoryWord.h"
#include "bridge/WordHelper.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

// A wrapper attached to an in-memory word processor holding one document,
// whose marks are formatting or drawn apart from the text (style).
struct WordFixture
{
    std::shared_ptr<memoryword::MemoryApplication> app = std::make_shared<memoryword::MemoryApplication>();
    std::shared_ptr<memoryword::MemoryDocument> doc;
    std::unique_ptr<WordHelper> helper = std::make_unique<WordHelper>();

    explicit WordFixture(const QString& text, memoryword::Layout layout = {}, const QString& name = "/docs/a.docx",
                         automation::MarkStyle style = automation::MarkStyle::Formatting)
    {
        doc = app->addDocument(name, text, layout);
        doc->setMarkStyle(style);
        helper->attach(reinterpret_cast<HWND>(quintptr(0x1234)), app);
    }

    // The caret at position at (or a selection), without an event.
    void caret(int start, int end = -1) { doc->setSelection(start, end < 0 ? start : end); }
    bool markedAt(int i) const
    {
        if (doc->markStyle() == automation::MarkStyle::Overlay)
            return doc->overlayMarkAt(i);
        return automation::isMarkFont(doc->fontAt(i));
    }
    // What a check of the current page brings, as the service answers: one
    // finding per occurrence of each template's wrong text on the page, its
    // spans moved to where it stands in the page's text, in text order.
    CHECK_DATAS found(const CHECK_DATAS& templates)
    {
        const QString text = helper->getCurrentPageText();
        std::vector<std::pair<int, std::shared_ptr<CCheckData>>> found;
        for (const std::shared_ptr<CCheckData>& tmpl : templates) {
            const QString wrong = QString::fromStdString(tmpl->text);
            for (int at = text.indexOf(wrong); !wrong.isEmpty() && at >= 0; at = text.indexOf(wrong, at + 1)) {
                auto one = std::make_shared<CCheckData>(*tmpl);
                for (auto& [start, end] : one->spans) {
                    start += at;
                    end += at;
                }
                found.emplace_back(at, one);
            }
        }
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        CHECK_DATAS result;
        for (auto& [at, one] : found)
            result.push_back(std::move(one));
        return result;
    }
    // Checks the current page with the findings of templates.
    void check(const CHECK_DATAS& templates) { helper->showErrors(found(templates)); }
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

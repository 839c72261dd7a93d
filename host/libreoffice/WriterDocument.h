#pragma once

#include "automation/Automation.h"

#include <com/sun/star/document/XUndoManager.hpp>

#include <memory>

class WriterText;

// A Writer document: its text as ranges, its name, its undo history and its
// modified flag.
class WriterDocument : public automation::Document
{
public:
    explicit WriterDocument(std::shared_ptr<WriterText> text);

    const std::shared_ptr<WriterText>& writerText() const { return m_text; }

    std::shared_ptr<automation::Range> content() override;
    std::shared_ptr<automation::Range> range(int start, int end) override;
    QString fullName() override;
    void enterUndoContext(const QString& title) override;
    void leaveUndoContext() override;
    bool isModified() override;
    void setModified(bool modified) override;
    automation::MarkStyle markStyle() override { return automation::MarkStyle::Overlay; }
    automation::MarkDisplay markDisplay() override;

private:
    css::uno::Reference<css::document::XUndoManager> undoManager();

    std::shared_ptr<WriterText> m_text;
    css::uno::Reference<css::document::XUndoManager> m_undoManager;
};

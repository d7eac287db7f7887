#include "app/window/JobAdmissionPrompt.h"

#include "app/JobAdmission.h"

#include <QMessageBox>

bool JobAdmissionPrompt::confirm(QWidget *parent, const QString &title, const JobAdmission &admission)
{
    switch (admission.verdict()) {
    case JobAdmission::Verdict::Refuse:
        QMessageBox::warning(parent, title, admission.refusalText());
        return false;
    case JobAdmission::Verdict::Ask:
        return ask(parent, title, admission.questionText());
    case JobAdmission::Verdict::Start:
        break;
    }
    return true;
}

bool JobAdmissionPrompt::ask(QWidget *parent, const QString &title, const QString &question)
{
    return QMessageBox::question(parent, title, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
           == QMessageBox::Yes;
}

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
        return QMessageBox::question(parent, title, admission.questionText(), QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No)
               == QMessageBox::Yes;
    case JobAdmission::Verdict::Start:
        break;
    }
    return true;
}

#pragma once

class JobAdmission;
class QString;
class QWidget;

// Puts what a job's admission leaves open to the user: a refused job is
// explained, a very large one asked about with No as the default answer.
class JobAdmissionPrompt
{
public:
    // True when the job may start.
    static bool confirm(QWidget *parent, const QString &title, const JobAdmission &admission);
    // A yes-or-no question about a job; No is the default answer.
    static bool ask(QWidget *parent, const QString &title, const QString &question);
};

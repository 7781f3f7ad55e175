#include "startup/ProgramEnd.h"

#include "database/OpenDatabase.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {
void leaveEventLoop(int exitCode)
{
    std::fflush(stdout);
    std::fflush(stderr);
    if (QCoreApplication::instance())
        QCoreApplication::exit(exitCode);
    else
        std::exit(exitCode);
}

ProgramEndHandler &handler()
{
    static ProgramEndHandler current = leaveEventLoop;
    return current;
}
} // namespace

void EndProgram(int exitCode)
{
    const ProgramEndHandler end = handler();
    end(exitCode);
}

ProgramEndHandler SetProgramEndHandler(ProgramEndHandler newHandler)
{
    ProgramEndHandler previous = handler();
    handler() = newHandler ? std::move(newHandler) : ProgramEndHandler(leaveEventLoop);
    return previous;
}

void ExitApplication()
{
    CloseDatabase();
    EndProgram(0);
}

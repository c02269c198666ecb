#include "service/commandLine.h"
#include "service/serverMain.h"

int main(int argc, char** argv) {
    int answered = logoffCookieService_answerCommandLine(argc, argv, stdout);
    if (answered >= 0) {
        return answered;
    }
    logoffCookieAPI_ServerMain();
}

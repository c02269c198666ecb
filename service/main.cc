#include "service/logoffCookieAPIServer.h"

int main() {
    logoffCookieAPI_ServerMain();
}

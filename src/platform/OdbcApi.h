// The ODBC declarations, with what each OS needs in front of them: the Windows headers
// declare the types sql.h builds on, unixODBC's headers stand alone. Only the database
// layer's implementation files include this header, so no OS header leaks elsewhere.
// The wide entry points are the ones to call: SQLWCHAR is 16 bits on both OSes.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide text must be UTF-16");

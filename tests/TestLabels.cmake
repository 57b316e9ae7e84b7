# Labels of the tests of ZirvoTests, read by ctest once their list is discovered
# (tests/CMakeLists.txt); every label of a test names something it needs:
#   unit     nothing beyond the test program (memory, temporary files, system libraries)
#   sqlite   the ODBC driver manager with the packaged drivers, on SQLite files
#   peer     a loopback peer process: the scripted Python HTTP(S) peer, squid, or a DNS
#            peer in a network namespace
#   mariadb  the MariaDB server
# (The tests of the built program carry `process`, beside their add_test in
# tests/host/CMakeLists.txt.)
# A test takes the labels of every row whose pattern matches its full name. A test run
# over the database backends is named after its backend (".../sqlite", ".../mariadb", and its parameter may follow),
# which is its label. A new suite matches no row until it is given one here: the check
# TestLabels.EveryTestHasKnownLabels fails until then, naming it.
# ctest reads this file without the project's policies.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)
set(zirvoLabelRows
  unit "^(AccessRules|LogLineLocale|TryStrToInt|TextHelpers|MaskPassword|ChangeFileExt)\\."
  unit "^(Cp1252|Utf8|Utf16|Scrambling|HexToInt|ScrambleCommand)\\."
  unit "^(IniDocumentRead|IniDocumentEncoding|IniDocumentWrite|IniFile)\\."
  unit "^(SettingsReaderTest|VarnoxBranchTest)\\."
  unit "^(SQLServerConnectionString|MySQLConnectionString|OdbcTranslation|SqlServerDriver)\\."
  unit "^(HandleDatabaseError|DateSerial|NamedParameters|ServiceStatusText)\\."
  unit "^(CheckPointMemoryTest|ServiceFrameTest|CommandLineTest|InstallTest|MainLoopTest)\\."
  unit "^(SystemdUnitTest|ServiceStateQueryTest|EventLogFileTest)\\."
  unit "^(LogWriter|WaitSeconds|DefaultLogFilePath|MainServiceTest|MainServiceLifetimeTest)\\."
  unit "^(Connectivity|LocalAddress|TlsLibraryLoad|ReplyReading|Url|FormEncoding)\\."
  unit "^(RequestHead|ReplyValues|ReplyText|CookieStore)\\."
  unit "^(Batching|DeliveryWindow|GatewayForm|ReplyLines|ReplyFields|RegionalFormat)\\."
  unit "^(ReportDates|StatusTable|ReportLines)\\."
  sqlite "^(DatabaseConcurrency|StateReport|FormStatements|LifecycleDatabaseTest)\\."
  sqlite "^(TimerCycleTest|SelfCheck)\\."
  sqlite "^Connection\\.(OpenClose|AnSQLiteDataSource|UnreachableServers)"
  sqlite "/sqlite( |$)"
  mariadb "^(TimerCycleTest|SelfCheck)\\."
  mariadb "^Connection\\.(MySQLDataSource|EveryDriverEndsItsWait)"
  mariadb "/mariadb( |$)"
  peer "^(RemoteAccessCodeTest|HttpClientPeer|ProxyPeer|Squid|TimerCycleTest)\\."
  peer "^(LocalAddressInNamespace|LocalAddressProbe|NameLookupProbe)\\."
  peer "^Backends/DeliveryCheckTest\\."
)

foreach(name IN LISTS ZirvoTests_TESTS)
  set(labels "")
  set(rows ${zirvoLabelRows})
  while(rows)
    list(POP_FRONT rows label pattern)
    if(name MATCHES "${pattern}" AND NOT label IN_LIST labels)
      list(APPEND labels ${label})
    endif()
  endwhile()
  # What a label needs is attached by the label. The test process hears its labels, so a
  # shared test helper can refuse to serve a test that does not declare the need; the
  # tests that need MariaDB share the server of the run.
  string(REPLACE ";" "," labelText "${labels}")
  set(environment "ZIRVO_TEST_LABELS=set:${labelText}")
  if("mariadb" IN_LIST labels)
    list(APPEND environment "ZIRVO_MARIADB_STATE=set:${ZIRVO_MARIADB_STATE}")
    set_tests_properties("${name}" PROPERTIES FIXTURES_REQUIRED MariaDb)
  endif()
  set_tests_properties("${name}" PROPERTIES LABELS "${labels}"
                       ENVIRONMENT_MODIFICATION "${environment}")
endforeach()
cmake_policy(POP)

# The Wine prefix fixture, for the folders whose tests run under Wine: every
# such test requires it, so CTest makes the prefix and starts its server
# first, and ends the server after the last of them. tests/wine/CMakeLists.txt
# registers the fixture's own two tests.
set(WINE_PREFIX_FIXTURE wine_prefix)

# require_wine_prefix(test...): call from the folder that added the tests.
function(require_wine_prefix)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
endfunction()

# Resource locks for tests that share state in the one prefix. Every test that
# touches the service's parameters key, the device tree or the device-console
# tool holds WINE_SERVICE_STATE, so that none of them sees another's registry
# values; every test with windows that take device-change broadcasts holds
# WINE_DESKTOP, as broadcasts reach every listener on the run's desktop.
set(WINE_SERVICE_STATE cardwell_wine_service_state)
set(WINE_DESKTOP cardwell_wine_desktop)
# Tests that use the card-reader stand-in (tests/wine-driver) hold
# WINE_CARD_READER: they share its one card and its log of requests.
set(WINE_CARD_READER cardwell_wine_card_reader)

# The Wine prefix fixture, for the folders whose tests run under Wine: every
# such test requires it, so CTest makes the prefix and starts its server
# first, and ends the server after the last of them. tests/wine/CMakeLists.txt
# registers the fixture's own two tests.
set(WINE_PREFIX_FIXTURE wine_prefix)

# require_wine_prefix(test...): call from the folder that added the tests.
function(require_wine_prefix)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
endfunction()

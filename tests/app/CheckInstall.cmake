# Installs the build into a scratch prefix and checks the plug-in folder:
# plugin.txt in Shift-JIS with CR LF naming the executable, and an executable
# that runs from another working directory.
#   cmake -DBUILD=<build dir> -DPREFIX=<scratch> -P CheckInstall.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "install failed: ${installed}")
endif()

set(folder ${PREFIX}/melodrift)
file(READ ${folder}/plugin.txt content HEX)
# "name=" + メロドリフト in CP932 + CR LF + "execute=melodrift" [".exe"] + CR LF
set(expected "6e616d653d" "8381838d8368838a83748367" "0d0a" "657865637574653d" "6d656c6f6472696674")
string(CONCAT expected ${expected})
if(WIN32)
  string(APPEND expected "2e657865")
endif()
string(APPEND expected "0d0a")
if(NOT content STREQUAL expected)
  message(FATAL_ERROR "plugin.txt is ${content}, expected ${expected}")
endif()

# The executable runs (its run bit is set) from an unrelated folder, with a
# relative plug-in file path, and as OpenUtau starts a native plug-in: from
# its own folder with the plug-in file's absolute path; it ends with exit
# code 0 both times.
set(work ${PREFIX}/elsewhere)
file(MAKE_DIRECTORY ${work})
file(WRITE ${work}/plugin.tmp "[#SETTING]\nTempo=120.00\nVoiceDir=${work}\n")
execute_process(COMMAND ${folder}/melodrift --grab-window shot.png plugin.tmp no-recording.wav
                WORKING_DIRECTORY ${work} RESULT_VARIABLE ran)
if(NOT ran EQUAL 0 OR NOT EXISTS ${work}/shot.png)
  message(FATAL_ERROR "the installed program did not run: ${ran}")
endif()
execute_process(COMMAND ${folder}/melodrift --grab-window ${work}/shot2.png ${work}/plugin.tmp no-recording.wav
                WORKING_DIRECTORY ${folder} RESULT_VARIABLE ran)
if(NOT ran EQUAL 0 OR NOT EXISTS ${work}/shot2.png)
  message(FATAL_ERROR "the installed program did not run from its own folder: ${ran}")
endif()

@echo off
rem The technician's side on Windows in one command: double-click this file, or run start-windows.cmd
rem in a command prompt in this folder. It starts the tunnel server of every ID (stunnel.exe beside
rem this file, one window each) and the console in this window; Ctrl-C or closing the window ends
rem every session and its viewer.
cd /d "%~dp0"
for %%i in (@IDS@) do start "Fernwartung tunnel %%i" stunnel.exe stunnel-techniker%%i-windows.conf
technician.exe --settings technician-windows.ini

rem Download of one archive from the data transfer device into "dat".
rem %1 = archive number in its catalog, %2 = COM port number.
rem fenlor: port, rate, (unused), time-out in ms, archive, output file.

fenlor.exe %2 9600 0 200 %1 dat

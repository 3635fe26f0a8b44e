[playlist]
NumberOfEntries=3
File2=b.mid
Title2=B
File1=/abs/a.mid
File3=file:///c%20d.wav
File10=http://radio/x
Version=2

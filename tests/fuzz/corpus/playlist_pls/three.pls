[playlist]
NumberOfEntries=3
File2=http://b.example/
File1=http://a.example:8000/;stream.mp3
Title1=A
file3 = http://c.example/c
File1=http://dup.example/
Version=2

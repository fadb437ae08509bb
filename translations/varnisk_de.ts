<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>About</name>
    <message>
        <source>Varnisk</source>
        <translation>Varnisk</translation>
    </message>
    <message>
        <source>Varnisk manual</source>
        <translation>Varnisk-Handbuch</translation>
    </message>
    <message>
        <source>Varnisk is free software: you can redistribute
it and/or modify it under the terms of the
GNU General Public License, version 3 or later.
It comes with ABSOLUTELY NO WARRANTY.</source>
        <translation>Varnisk ist freie Software: Sie können es unter den
Bedingungen der GNU General Public License, Version 3
oder jeder späteren Version, weitergeben und/oder ändern.
Es kommt OHNE JEDE GEWÄHRLEISTUNG.</translation>
    </message>
    <message>
        <source>Passphrase word lists: the EFF&apos;s long list (English)
and Uli Fouquet&apos;s German list, both under the
Creative Commons Attribution 3.0 licence.</source>
        <translation>Wortlisten für Passphrasen: die lange Liste
der EFF (Englisch) und die deutsche Liste von
Uli Fouquet, beide unter der Lizenz
Creative Commons Namensnennung 3.0.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>The option %1 takes no value.</source>
        <translation>Die Option %1 nimmt keinen Wert.</translation>
    </message>
    <message>
        <source>The option %1 was given twice.</source>
        <translation>Die Option %1 wurde zweimal angegeben.</translation>
    </message>
    <message>
        <source>The option %1 needs a file name.</source>
        <translation>Die Option %1 braucht einen Dateinamen.</translation>
    </message>
    <message>
        <source>The option --password-fd needs a file descriptor number.</source>
        <translation>Die Option --password-fd braucht die Nummer eines Dateideskriptors.</translation>
    </message>
    <message>
        <source>Unknown option: %1</source>
        <translation>Unbekannte Option: %1</translation>
    </message>
    <message>
        <source>No command given.</source>
        <translation>Kein Befehl angegeben.</translation>
    </message>
    <message>
        <source>No file given.</source>
        <translation>Keine Datei angegeben.</translation>
    </message>
    <message>
        <source>Only one file can be given.</source>
        <translation>Es kann nur eine Datei angegeben werden.</translation>
    </message>
    <message>
        <source>The file name is empty.</source>
        <translation>Der Dateiname ist leer.</translation>
    </message>
    <message>
        <source>The option -o is for encrypt and decrypt only.</source>
        <translation>Die Option -o gilt nur für encrypt und decrypt.</translation>
    </message>
    <message>
        <source>Only decrypt can write to standard output (-o -).</source>
        <translation>Nur decrypt kann auf die Standardausgabe schreiben (-o -).</translation>
    </message>
    <message>
        <source>The option %1 needs a value.</source>
        <translation>Die Option %1 braucht einen Wert.</translation>
    </message>
    <message>
        <source>Unknown command: %1</source>
        <translation>Unbekannter Befehl: %1</translation>
    </message>
    <message>
        <source>Try &apos;varnisk-cli --help&apos;.</source>
        <translation>Mehr mit &apos;varnisk-cli --help&apos;.</translation>
    </message>
    <message>
        <source>The option --words needs a number from %1 to %2.</source>
        <translation>Die Option --words braucht eine Zahl von %1 bis %2.</translation>
    </message>
    <message>
        <source>The option --words is for passphrase only.</source>
        <translation>Die Option --words gilt nur für passphrase.</translation>
    </message>
    <message>
        <source>The command passphrase takes no file.</source>
        <translation>Der Befehl passphrase nimmt keine Datei.</translation>
    </message>
    <message>
        <source>The option --kdf needs pbkdf2 or argon2id.</source>
        <translation>Die Option --kdf braucht pbkdf2 oder argon2id.</translation>
    </message>
    <message>
        <source>The option --kdf is for encrypt and new only.</source>
        <translation>Die Option --kdf gibt es nur für encrypt und new.</translation>
    </message>
    <message>
        <source>Usage: varnisk-cli COMMAND [OPTIONS] FILE
       varnisk-cli passphrase [--words N]

Encrypts and decrypts Varnisk files (.stxt secrets documents, .sdat data files,
.simg images) on the command line.

Commands:
  encrypt FILE [-o OUT]   encrypt FILE into OUT (default: FILE.sdat)
  decrypt FILE [-o OUT]   decrypt FILE into OUT (default: FILE without its last
                          suffix, and for a .simg image the extension its first
                          bytes call for: photo.simg gives photo.png); -o -
                          writes the plaintext to standard output
  show DOC.stxt           print the text of a secrets document
  new DOC.stxt            write a secrets document holding the text read from
                          standard input
  passphrase              print a new passphrase of random common words, from
                          the German list when the locale is German, else
                          from the English one
  info FILE               print the format version of an encrypted file and
                          the costs of its key derivation (no password asked)

Options:
  -o, --output OUT        the file to write
  -f, --force             replace an existing output file
  -q, --quiet             show no progress line
  --password-fd N         read the password from the first line of file
                          descriptor N (its line ending is not part of it);
                          without it the password is asked on the terminal, twice
                          for encrypt and new
  --words N               the number of words of a passphrase, 6 (the
                          default) to 20
  --kdf NAME              the key derivation of encrypt and new: pbkdf2 (the
                          default, format version 5, which every Varnisk
                          opens) or argon2id (version 6: Argon2id with
                          256 MiB and 3 passes; earlier releases of Varnisk
                          cannot open it)
  -h, --help              show this help
  --version               show the version

Options may stand before or after the command; -- ends them, so a file name may
begin with a dash.

Passwords are never taken from arguments or environment variables.
encrypt and new print a warning on standard error (and go on) when one
graphics card would guess the password within 10 years: the key derivation
of version 5 (PBKDF2-HMAC-SHA1, 1,000 iterations) lets it try about 10 million
passwords a second, that of version 6 (--kdf argon2id) about 10,000.
A passphrase of six random words holds for ages.
An output file is written under a temporary name, synced, and renamed into
place only once it is complete (and, when decrypting, verified), so a failure
leaves any existing file as it was. A symbolic link counts as an existing
file; --force replaces the link itself, not the file it points to. The output
may never be the input file. New files can be read by their owner only.

While a large file is encrypted or decrypted, a line on standard error shows
how far it is (only when standard error is a terminal). Ctrl-C stops the work
and leaves an existing output file as it was.

decrypt -o - checks the file&apos;s digest in a first pass and writes only verified
plaintext to standard output in a second pass. If the input cannot be read
twice (a pipe), or changes between the passes, the data is written as it is
decrypted; when the check then fails, the message says so and the exit code is
not 0: discard what was written.

Exit codes:
  0  success
  1  wrong password, corrupted or unsupported file, or unverified output
  2  usage error: bad arguments, an existing output without --force, the
     output is the input, passwords that don&apos;t match, no password given
  3  input/output error: a missing file, or one that cannot be read or written
     (a full disk, a file-size limit, standard output closed)
A reader that stops early (show DOC.stxt | head -1) is no error: the program
then ends quietly by SIGPIPE, as cat does (a shell reports 141).
</source>
        <translation>Aufruf: varnisk-cli BEFEHL [OPTIONEN] DATEI
       varnisk-cli passphrase [--words N]

Verschlüsselt und entschlüsselt Varnisk-Dateien (.stxt-Geheimnisdokumente,
.sdat-Datendateien, .simg-Bilder) auf der Kommandozeile.

Befehle:
  encrypt DATEI [-o AUS]  DATEI nach AUS verschlüsseln (Vorgabe: DATEI.sdat)
  decrypt DATEI [-o AUS]  DATEI nach AUS entschlüsseln (Vorgabe: DATEI ohne ihre
                          letzte Endung, bei einem .simg-Bild mit der Endung, die
                          seine ersten Bytes verlangen: aus foto.simg wird
                          foto.png); -o - schreibt den Klartext auf die
                          Standardausgabe
  show DOK.stxt           den Text eines Geheimnisdokuments ausgeben
  new DOK.stxt            ein Geheimnisdokument mit dem Text aus der
                          Standardeingabe schreiben
  passphrase              eine neue Passphrase aus zufälligen, geläufigen Wörtern
                          ausgeben, aus der deutschen Liste, wenn die Locale
                          deutsch ist, sonst aus der englischen
  info DATEI              die Formatversion einer verschlüsselten Datei und die
                          Kosten ihrer Schlüsselableitung ausgeben (ohne nach
                          dem Passwort zu fragen)

Optionen:
  -o, --output AUS        die zu schreibende Datei
  -f, --force             eine vorhandene Ausgabedatei ersetzen
  -q, --quiet             keine Fortschrittszeile anzeigen
  --password-fd N         das Passwort aus der ersten Zeile von Dateideskriptor N
                          lesen (das Zeilenende gehört nicht dazu); ohne diese
                          Option wird auf dem Terminal nach dem Passwort gefragt,
                          bei encrypt und new zweimal
  --words N               die Zahl der Wörter einer Passphrase, 6 (Vorgabe)
                          bis 20
  --kdf NAME              die Schlüsselableitung von encrypt und new: pbkdf2
                          (Vorgabe, Formatversion 5, die jedes Varnisk öffnet)
                          oder argon2id (Version 6: Argon2id mit 256 MiB und
                          3 Durchgängen; frühere Varnisk-Versionen können sie
                          nicht öffnen)
  -h, --help              diese Hilfe anzeigen
  --version               die Version anzeigen

Optionen dürfen vor oder nach dem Befehl stehen; -- beendet sie, so kann ein
Dateiname auch mit einem Bindestrich beginnen.

Passwörter werden nie aus Argumenten oder Umgebungsvariablen genommen.
encrypt und new geben eine Warnung auf der Standardfehlerausgabe aus (und
arbeiten weiter), wenn eine Grafikkarte das Passwort innerhalb von 10 Jahren
erriete: die Schlüsselableitung von Version 5 (PBKDF2-HMAC-SHA1, 1.000
Iterationen) lässt sie etwa 10 Millionen Passwörter pro Sekunde probieren, die
von Version 6 (--kdf argon2id) etwa 10.000.
Eine Passphrase aus sechs zufälligen Wörtern hält praktisch ewig.
Eine Ausgabedatei wird unter einem vorläufigen Namen geschrieben, auf die Platte
gebracht und erst dann an ihren Platz umbenannt, wenn sie vollständig (und beim
Entschlüsseln geprüft) ist; ein Fehler lässt eine vorhandene Datei also
unverändert. Ein symbolischer Link zählt als vorhandene Datei; --force ersetzt
den Link selbst, nicht die Datei, auf die er zeigt. Die Ausgabe darf nie die
Eingabedatei sein. Neue Dateien kann nur ihr Eigentümer lesen.

Während eine große Datei ver- oder entschlüsselt wird, zeigt eine Zeile auf der
Standardfehlerausgabe, wie weit die Arbeit ist (nur, wenn die
Standardfehlerausgabe ein Terminal ist). Strg-C bricht die Arbeit ab und lässt
eine vorhandene Ausgabedatei unverändert.

decrypt -o - prüft die Prüfsumme der Datei in einem ersten Durchgang und
schreibt nur geprüften Klartext in einem zweiten Durchgang auf die
Standardausgabe. Kann die Eingabe nicht zweimal gelesen werden (eine Pipe) oder
ändert sie sich zwischen den Durchgängen, werden die Daten beim Entschlüsseln
geschrieben; schlägt die Prüfung dann fehl, sagt die Meldung das, und der
Exit-Code ist nicht 0: Verwerfen Sie, was geschrieben wurde.

Exit-Codes:
  0  Erfolg
  1  falsches Passwort, beschädigte oder nicht unterstützte Datei oder
     ungeprüfte Ausgabe
  2  Aufruffehler: falsche Argumente, eine vorhandene Ausgabe ohne --force, die
     Ausgabe ist die Eingabe, Passwörter, die nicht übereinstimmen, kein Passwort
  3  Ein-/Ausgabefehler: eine fehlende Datei oder eine, die nicht gelesen oder
     geschrieben werden kann (volle Platte, Größenbegrenzung für Dateien,
     geschlossene Standardausgabe)
Ein Leser, der vorzeitig aufhört (show DOK.stxt | head -1), ist kein Fehler: das
Programm endet dann still durch SIGPIPE, wie cat (eine Shell meldet 141).
</translation>
    </message>
</context>
<context>
    <name>Commands</name>
    <message>
        <source>%1 has no suffix to take off; name the output with -o.</source>
        <translation>%1 hat keine Endung, die wegfallen könnte; nennen Sie die Ausgabe mit -o.</translation>
    </message>
    <message>
        <source>The target is the source file itself!</source>
        <translation>Das Ziel ist die Quelldatei selbst!</translation>
    </message>
    <message>
        <source>Anything written to standard output is unverified: discard it.</source>
        <translation>Was auf die Standardausgabe geschrieben wurde, ist ungeprüft: Verwerfen Sie es.</translation>
    </message>
    <message>
        <source>Type the text, then Ctrl-D on a line of its own:</source>
        <translation>Geben Sie den Text ein, dann Strg-D in einer eigenen Zeile:</translation>
    </message>
    <message>
        <source>The text holds a zero byte, where a secrets document&apos;s text would end; nothing was written.</source>
        <translation>Der Text enthält ein Null-Byte, an dem der Text eines Geheimnisdokuments enden würde; es wurde nichts geschrieben.</translation>
    </message>
    <message>
        <source>%1 exists already; use --force to replace it.</source>
        <translation>%1 existiert bereits; ersetzen Sie es mit --force.</translation>
    </message>
    <message>
        <source>No password could be read from file descriptor %1!</source>
        <translation>Aus Dateideskriptor %1 konnte kein Passwort gelesen werden!</translation>
    </message>
    <message>
        <source>Password: </source>
        <translation>Passwort: </translation>
    </message>
    <message>
        <source>There is no terminal to ask for the password; give it with --password-fd N.</source>
        <translation>Es gibt kein Terminal, um nach dem Passwort zu fragen; geben Sie es mit --password-fd N an.</translation>
    </message>
    <message>
        <source>No password given.</source>
        <translation>Kein Passwort angegeben.</translation>
    </message>
    <message>
        <source>Confirm password: </source>
        <translation>Passwort bestätigen: </translation>
    </message>
    <message>
        <source>%1 is not a regular file: only a file whose length is known in advance can be encrypted.</source>
        <translation>%1 ist keine gewöhnliche Datei: verschlüsseln lässt sich nur eine Datei, deren Länge vorher feststeht.</translation>
    </message>
    <message>
        <source>Error writing to standard output: %1</source>
        <translation>Fehler beim Schreiben auf die Standardausgabe: %1</translation>
    </message>
    <message>
        <source>Warning: %1 (&quot;varnisk-cli passphrase&quot; makes a strong one.)</source>
        <translation>Warnung: %1 („varnisk-cli passphrase“ erzeugt ein starkes.)</translation>
    </message>
    <message>
        <source>Image format not recognized! Name the output with -o.</source>
        <translation>Bildformat nicht erkannt! Geben Sie die Ausgabe mit -o an.</translation>
    </message>
    <message>
        <source>Argon2id (version 1.3), memory %1 KiB, passes %2, lanes %3</source>
        <translation>Argon2id (Version 1.3), Speicher %1 KiB, Durchgänge %2, Spuren %3</translation>
    </message>
    <message>
        <source>PBKDF2-HMAC-SHA1, 1000 iterations</source>
        <translation>PBKDF2-HMAC-SHA1, 1000 Iterationen</translation>
    </message>
    <message>
        <source>format version: %1</source>
        <translation>Formatversion: %1</translation>
    </message>
    <message>
        <source>key derivation: %1</source>
        <translation>Schlüsselableitung: %1</translation>
    </message>
</context>
<context>
    <name>DocumentQuestions</name>
    <message>
        <source>%1 is no longer there: another program moved or deleted it after this window opened or saved it.</source>
        <translation>%1 ist nicht mehr da: Ein anderes Programm hat die Datei verschoben oder gelöscht, nachdem dieses Fenster sie geöffnet oder gespeichert hat.</translation>
    </message>
    <message>
        <source>%1 was changed by another program (or another Varnisk window) after this window opened or saved it. Saving now replaces that version.</source>
        <translation>%1 wurde von einem anderen Programm (oder einem anderen Varnisk-Fenster) geändert, nachdem dieses Fenster die Datei geöffnet oder gespeichert hat. Speichern ersetzt jetzt diese Fassung.</translation>
    </message>
    <message>
        <source>Write it again with this window&apos;s text, save this text under another name, or cancel?</source>
        <translation>Mit dem Text dieses Fensters neu schreiben, den Text unter einem anderen Namen speichern oder abbrechen?</translation>
    </message>
    <message>
        <source>Write it again with this window&apos;s text, or cancel?</source>
        <translation>Mit dem Text dieses Fensters neu schreiben oder abbrechen?</translation>
    </message>
    <message>
        <source>Overwrite it with this window&apos;s text, save this text under another name, or cancel?</source>
        <translation>Mit dem Text dieses Fensters überschreiben, den Text unter einem anderen Namen speichern oder abbrechen?</translation>
    </message>
    <message>
        <source>Overwrite it with this window&apos;s text, or cancel?</source>
        <translation>Mit dem Text dieses Fensters überschreiben oder abbrechen?</translation>
    </message>
    <message>
        <source>&amp;Write It Again</source>
        <translation>&amp;Neu schreiben</translation>
    </message>
    <message>
        <source>&amp;Overwrite</source>
        <translation>&amp;Überschreiben</translation>
    </message>
    <message>
        <source>Save &amp;As...</source>
        <translation>Speichern &amp;unter...</translation>
    </message>
    <message>
        <source>%1 holds more data after a zero byte, which the editor cannot show.

Open only the text before the zero byte? Saving it afterwards drops the rest for good.</source>
        <translation>%1 enthält nach einem Nullbyte weitere Daten, die der Editor nicht anzeigen kann.

Nur den Text vor dem Nullbyte öffnen? Wird er danach gespeichert, ist der Rest endgültig verloren.</translation>
    </message>
    <message>
        <source>&amp;Open the Text Before It</source>
        <translation>Text davor &amp;öffnen</translation>
    </message>
    <message>
        <source>Varnisk was ended on %1 while %2 had unsaved changes, and kept them in the recovery file %3.</source>
        <translation>Varnisk wurde am %1 beendet, als %2 ungespeicherte Änderungen hatte, und hat sie in der Wiederherstellungsdatei %3 aufbewahrt.</translation>
    </message>
    <message>
        <source>Continue with the recovered text? Otherwise the document opens as it was saved, and the recovery file stays until the document is saved again.</source>
        <translation>Mit dem wiederhergestellten Text weiterarbeiten? Andernfalls wird das Dokument so geöffnet, wie es gespeichert wurde, und die Wiederherstellungsdatei bleibt, bis das Dokument wieder gespeichert wird.</translation>
    </message>
    <message>
        <source>&amp;Recover</source>
        <translation>&amp;Wiederherstellen</translation>
    </message>
    <message>
        <source>Open &amp;Saved Version</source>
        <translation>&amp;Gespeicherte Fassung öffnen</translation>
    </message>
    <message>
        <source>The recovery file %1 does not open with this password. It was left as it is; the document opens as it was saved.
%2</source>
        <translation>Die Wiederherstellungsdatei %1 lässt sich mit diesem Passwort nicht öffnen. Sie bleibt unverändert; das Dokument wird so geöffnet, wie es gespeichert wurde.
%2</translation>
    </message>
    <message>
        <source>They were made to another version of %1 than the one on disk now; saving them asks before it replaces that one.</source>
        <translation>Sie wurden an einer anderen Fassung von %1 gemacht als der, die jetzt auf dem Datenträger liegt; beim Speichern wird gefragt, bevor diese ersetzt wird.</translation>
    </message>
    <message>
        <source>Continue with the recovered text? Otherwise the next recovery file is offered (%1 left).</source>
        <translation>Mit dem wiederhergestellten Text weitermachen? Sonst wird die nächste Wiederherstellungsdatei angeboten (noch %1).</translation>
    </message>
    <message>
        <source>&amp;Next Recovery File</source>
        <translation>&amp;Nächste Wiederherstellungsdatei</translation>
    </message>
    <message>
        <source>Overwrite it with this window&apos;s text, merge that version into this window&apos;s text (nothing is saved yet), save this text under another name, or cancel?</source>
        <translation>Mit dem Text dieses Fensters überschreiben, diese Fassung mit dem Text dieses Fensters zusammenführen (noch wird nichts gespeichert), den Text unter einem anderen Namen speichern oder abbrechen?</translation>
    </message>
    <message>
        <source>&amp;Merge</source>
        <translation>Zusa&amp;mmenführen</translation>
    </message>
</context>
<context>
    <name>EarlyOptions</name>
    <message>
        <source>Usage: varnisk [OPTION] [--] [FILE...]

Varnisk is an editor for secrets kept in a password-protected document.
Each FILE is opened by its suffix: a secrets document (.stxt) in the editor,
an encrypted data file (.sdat) or image (.simg) for decryption. The first
opens in the window shown at start-up, each further one in a window of its
own.

While a Varnisk runs in this session, varnisk FILE... hands the files to it
and ends at once: each opens there in a new window, or brings the window
that shows it already to the front. Without FILE the running Varnisk brings
its front window forward. A Varnisk of its own starts only without a
session bus, with an option, on another display, or when the running one
does not answer within 3 seconds.

Options:
  -h, --help     show this help
  --version      show the version
  --lock         lock the windows of every running Varnisk of this session,
                 then exit: for screen lockers that tell nobody
  --             end the options: every later argument is a file name, even
                 one that begins with a dash

Any other option is refused with a message box. Qt&apos;s own options for
graphical programs (such as -platform NAME) are taken by Qt.
varnisk-cli encrypts and decrypts the same files on the command line.
</source>
        <translation>Aufruf: varnisk [OPTION] [--] [DATEI...]

Varnisk ist ein Editor für Geheimnisse, die in einem passwortgeschützten
Dokument liegen. Jede DATEI wird nach ihrer Endung geöffnet: ein
Geheimnisdokument (.stxt) im Editor, eine verschlüsselte Datendatei (.sdat)
oder ein verschlüsseltes Bild (.simg) zum Entschlüsseln. Die erste öffnet sich
im Fenster, das beim Start erscheint, jede weitere in einem eigenen Fenster.

Läuft in dieser Sitzung schon ein Varnisk, übergibt ihm varnisk DATEI... die
Dateien und endet sofort: Jede öffnet sich dort in einem neuen Fenster, oder
das Fenster, das sie schon zeigt, kommt nach vorn. Ohne DATEI holt das
laufende Varnisk sein vorderstes Fenster nach vorn. Ein eigenes Varnisk startet
nur ohne Sitzungsbus, mit einer Option, auf einer anderen Anzeige oder wenn
das laufende nicht binnen 3 Sekunden antwortet.

Optionen:
  -h, --help     diese Hilfe anzeigen
  --version      die Version anzeigen
  --lock         die Fenster jedes laufenden Varnisk dieser Sitzung sperren,
                 dann beenden: für Bildschirmsperren, die niemandem Bescheid geben
  --             beendet die Optionen: jedes weitere Argument ist ein
                 Dateiname, auch eines, das mit einem Bindestrich beginnt

Jede andere Option wird mit einem Meldungsfenster abgelehnt. Qts eigene
Optionen für grafische Programme (etwa -platform NAME) nimmt Qt entgegen.
varnisk-cli ver- und entschlüsselt dieselben Dateien auf der Kommandozeile.
</translation>
    </message>
</context>
<context>
    <name>EncryptedStream</name>
    <message>
        <source>error setting up cipher parameters</source>
        <translation>Fehler beim Einrichten der Verschlüsselungsparameter</translation>
    </message>
    <message>
        <source>error initializing hash</source>
        <translation>Fehler beim Beginnen der Prüfsumme</translation>
    </message>
    <message>
        <source>error updating hash</source>
        <translation>Fehler beim Berechnen der Prüfsumme</translation>
    </message>
    <message>
        <source>error calculating hash</source>
        <translation>Fehler beim Abschließen der Prüfsumme</translation>
    </message>
    <message>
        <source>error encrypting</source>
        <translation>Fehler beim Verschlüsseln</translation>
    </message>
    <message>
        <source>invalid header data</source>
        <translation>ungültige Kopfdaten</translation>
    </message>
    <message>
        <source>random generator failed</source>
        <translation>der Zufallsgenerator hat versagt</translation>
    </message>
    <message>
        <source>error setting up cipher</source>
        <translation>Fehler beim Einrichten der Verschlüsselung</translation>
    </message>
    <message>
        <source>stream length parameter has wrong value</source>
        <translation>die Längenangabe des Datenstroms hat einen falschen Wert</translation>
    </message>
    <message>
        <source>error encrypting final block</source>
        <translation>Fehler beim Verschlüsseln des letzten Blocks</translation>
    </message>
    <message>
        <source>unexpected end of input</source>
        <translation>unerwartetes Ende der Eingabe</translation>
    </message>
    <message>
        <source>error decrypting</source>
        <translation>Fehler beim Entschlüsseln</translation>
    </message>
    <message>
        <source>error decrypting final block</source>
        <translation>Fehler beim Entschlüsseln des letzten Blocks</translation>
    </message>
</context>
<context>
    <name>FindDialog</name>
    <message>
        <source>Varnisk</source>
        <translation>Varnisk</translation>
    </message>
    <message>
        <source>Find:</source>
        <translation>Suchen:</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>Find next...</source>
        <translation>Weitersuchen...</translation>
    </message>
</context>
<context>
    <name>LockPage</name>
    <message>
        <source>This document is locked.</source>
        <translation>Dieses Dokument ist gesperrt.</translation>
    </message>
    <message>
        <source>This document has no password yet: anyone at this computer can unlock it. Save it to protect it with a password.</source>
        <translation>Dieses Dokument hat noch kein Passwort: Jeder an diesem Computer kann es entsperren. Speichern Sie es, um es mit einem Passwort zu schützen.</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Unlock</source>
        <translation>Entsperren</translation>
    </message>
    <message>
        <source>Unlocking brings back the text, the cursor and unsaved changes, but not the undo history.</source>
        <translation>Das Entsperren bringt den Text, die Cursorposition und ungespeicherte Änderungen zurück, aber nicht den Rückgängig-Verlauf.</translation>
    </message>
</context>
<context>
    <name>LockService</name>
    <message>
        <source>no session bus: no running Varnisk can be reached</source>
        <translation>kein Sitzungsbus: kein laufendes Varnisk erreichbar</translation>
    </message>
    <message>
        <source>no running Varnisk to lock</source>
        <translation>kein laufendes Varnisk zum Sperren</translation>
    </message>
    <message>
        <source>%1 of %2 running Varnisk did not confirm that their windows are locked</source>
        <translation>%1 von %2 laufenden Varnisk haben nicht bestätigt, dass ihre Fenster gesperrt sind</translation>
    </message>
    <message>
        <source>the name %1 cannot be had on the session bus: &quot;varnisk --lock&quot; does not reach this Varnisk</source>
        <translation>der Name %1 ist auf dem Sitzungsbus nicht zu bekommen: &quot;varnisk --lock&quot; erreicht dieses Varnisk nicht</translation>
    </message>
    <message>
        <source>%1 running Varnisk found, %2 of them not reached on the session bus</source>
        <translation>%1 laufende Varnisk gefunden, %2 davon auf dem Sitzungsbus nicht erreicht</translation>
    </message>
</context>
<context>
    <name>LockSettingsSection</name>
    <message>
        <source>Lock</source>
        <translation>Sperren</translation>
    </message>
    <message>
        <source> min</source>
        <translation> min</translation>
    </message>
    <message>
        <source>never</source>
        <translation>nie</translation>
    </message>
    <message>
        <source>Lock after no input for:</source>
        <translation>Sperren nach Untätigkeit von:</translation>
    </message>
    <message>
        <source>Lock when the screen locks</source>
        <translation>Sperren, wenn der Bildschirm gesperrt wird</translation>
    </message>
    <message>
        <source>Lock before the computer sleeps</source>
        <translation>Sperren, bevor der Computer in den Ruhezustand geht</translation>
    </message>
    <message>
        <source>Lock when the window is minimised</source>
        <translation>Sperren, wenn das Fenster minimiert wird</translation>
    </message>
</context>
<context>
    <name>MergeQuestions</name>
    <message>
        <source>this window</source>
        <translation>dieses Fenster</translation>
    </message>
    <message>
        <source>on disk</source>
        <translation>auf dem Datenträger</translation>
    </message>
    <message>
        <source>Merging: %1 does not open with this document&apos;s password; enter its own.</source>
        <translation>Zusammenführen: %1 lässt sich mit dem Passwort dieses Dokuments nicht öffnen; bitte sein eigenes eingeben.</translation>
    </message>
    <message>
        <source>Beside %1 lies a conflicting copy that a sync program made when the document was changed on two computers:
%2</source>
        <translation>Neben %1 liegt eine Konfliktkopie, die ein Synchronisationsprogramm angelegt hat, als das Dokument auf zwei Rechnern geändert wurde:
%2</translation>
    </message>
    <message>
        <source>Beside %1 lie conflicting copies that a sync program made when the document was changed on two computers:
%2</source>
        <translation>Neben %1 liegen Konfliktkopien, die ein Synchronisationsprogramm angelegt hat, als das Dokument auf zwei Rechnern geändert wurde:
%2</translation>
    </message>
    <message>
        <source>Merge it into the document (lines that only one of the two has are kept; nothing is saved yet), open the document alone, or cancel?</source>
        <translation>Sie mit dem Dokument zusammenführen (Zeilen, die nur eine der beiden Fassungen hat, bleiben erhalten; noch wird nichts gespeichert), nur das Dokument öffnen oder abbrechen?</translation>
    </message>
    <message>
        <source>Merge them into the document (lines that only one version has are kept; nothing is saved yet), open the document alone, or cancel?</source>
        <translation>Sie mit dem Dokument zusammenführen (Zeilen, die nur eine Fassung hat, bleiben erhalten; noch wird nichts gespeichert), nur das Dokument öffnen oder abbrechen?</translation>
    </message>
    <message>
        <source>&amp;Merge</source>
        <translation>Zusa&amp;mmenführen</translation>
    </message>
    <message>
        <source>Open the &amp;Document Alone</source>
        <translation>Nur das &amp;Dokument öffnen</translation>
    </message>
    <message>
        <source>Where both changed the same lines, both are kept, the window&apos;s first, between marker lines (&lt;&lt;&lt;&lt;&lt;&lt;&lt;, ======= and &gt;&gt;&gt;&gt;&gt;&gt;&gt;); the cursor is at the first. Nothing is saved yet.</source>
        <translation>Wo beide dieselben Zeilen geändert haben, bleiben beide erhalten, die des Fensters zuerst, zwischen Markierungszeilen (&lt;&lt;&lt;&lt;&lt;&lt;&lt;, ======= und &gt;&gt;&gt;&gt;&gt;&gt;&gt;); der Cursor steht an der ersten Stelle. Noch ist nichts gespeichert.</translation>
    </message>
    <message>
        <source>The versions were merged without a clash. Nothing is saved yet: check the text, then save it.</source>
        <translation>Die Fassungen wurden ohne Konflikt zusammengeführt. Noch ist nichts gespeichert: Bitte den Text prüfen und dann speichern.</translation>
    </message>
    <message>
        <source>The versions were merged, with one clash.</source>
        <translation>Die Fassungen wurden zusammengeführt, mit einem Konflikt.</translation>
    </message>
    <message>
        <source>The versions were merged, with %1 clashes.</source>
        <translation>Die Fassungen wurden zusammengeführt, mit %1 Konflikten.</translation>
    </message>
    <message>
        <source>%1 cannot be merged: a version holds a zero byte, which the editor cannot show. Nothing was changed.</source>
        <translation>%1 kann nicht zusammengeführt werden: Eine Fassung enthält ein Null-Byte, das der Editor nicht anzeigen kann. Es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>%1 cannot be merged: the merge came out empty although the versions are not. Nothing was changed.</source>
        <translation>%1 kann nicht zusammengeführt werden: Das Ergebnis wäre leer, obwohl die Fassungen es nicht sind. Es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>%1 still holds clashes of the merge between marker lines (&lt;&lt;&lt;&lt;&lt;&lt;&lt;, ======= and &gt;&gt;&gt;&gt;&gt;&gt;&gt;).</source>
        <translation>%1 enthält noch Konflikte der Zusammenführung zwischen Markierungszeilen (&lt;&lt;&lt;&lt;&lt;&lt;&lt;, ======= und &gt;&gt;&gt;&gt;&gt;&gt;&gt;).</translation>
    </message>
    <message>
        <source>Save it with them?</source>
        <translation>Trotzdem mit ihnen speichern?</translation>
    </message>
    <message>
        <source>&amp;Save With Them</source>
        <translation>Mit ihnen &amp;speichern</translation>
    </message>
    <message>
        <source>The version of %1 that was merged from disk has a different password from this window&apos;s.</source>
        <translation>Die Fassung von %1, die vom Datenträger zusammengeführt wurde, hat ein anderes Passwort als dieses Fenster.</translation>
    </message>
    <message>
        <source>Which password should the document keep?</source>
        <translation>Welches Passwort soll das Dokument behalten?</translation>
    </message>
    <message>
        <source>This &amp;Window&apos;s Password</source>
        <translation>Das Passwort dieses &amp;Fensters</translation>
    </message>
    <message>
        <source>The Password &amp;on Disk</source>
        <translation>Das Passwort auf dem &amp;Datenträger</translation>
    </message>
    <message>
        <source>%1 is saved with the conflicting copy merged into it:
%2

Remove the copy now?</source>
        <translation>%1 ist gespeichert, mit der Konfliktkopie darin:
%2

Die Kopie jetzt löschen?</translation>
    </message>
    <message>
        <source>%1 is saved with the conflicting copies merged into it:
%2

Remove the copies now?</source>
        <translation>%1 ist gespeichert, mit den Konfliktkopien darin:
%2

Die Kopien jetzt löschen?</translation>
    </message>
</context>
<context>
    <name>MessageBoxes</name>
    <message>
        <source>File: %1</source>
        <translation>Datei: %1</translation>
    </message>
</context>
<context>
    <name>PassphraseGenerator</name>
    <message>
        <source>No passphrase could be made: the system&apos;s random number generator failed.</source>
        <translation>Es konnte keine Passphrase erzeugt werden: der Zufallszahlengenerator des Systems hat versagt.</translation>
    </message>
</context>
<context>
    <name>PasswordConfirmDialog</name>
    <message>
        <source>Varnisk</source>
        <translation>Varnisk</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Confirm:</source>
        <translation>Bestätigen:</translation>
    </message>
    <message>
        <source>Fill both fields with a passphrase of random words</source>
        <translation>Beide Felder mit einer Passphrase aus zufälligen Wörtern füllen</translation>
    </message>
    <message>
        <source>Generate</source>
        <translation>Erzeugen</translation>
    </message>
    <message>
        <source>Passphrase:</source>
        <translation>Passphrase:</translation>
    </message>
    <message>
        <source>Use it anyway?</source>
        <translation>Trotzdem verwenden?</translation>
    </message>
    <message>
        <source>Write it down now: it is shown only this once</source>
        <translation>Jetzt aufschreiben: sie wird nur dieses eine Mal gezeigt</translation>
    </message>
    <message>
        <source>Stronger key derivation (Argon2id; versions of Varnisk before this one cannot open it)</source>
        <translation>Stärkere Schlüsselableitung (Argon2id; frühere Versionen von Varnisk können sie nicht öffnen)</translation>
    </message>
    <message>
        <source>Each guess at the password then fills 256 MiB of memory: a graphics card tries thousands of times fewer passwords a second. Opening, saving and unlocking the document take about a second longer.</source>
        <translation>Jeder Versuch, das Passwort zu erraten, füllt dann 256 MiB Speicher: eine Grafikkarte probiert tausendmal weniger Passwörter pro Sekunde. Öffnen, Speichern und Entsperren des Dokuments dauern etwa eine Sekunde länger.</translation>
    </message>
</context>
<context>
    <name>PasswordDialog</name>
    <message>
        <source>Varnisk</source>
        <translation>Varnisk</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
</context>
<context>
    <name>PasswordStrength</name>
    <message>
        <source>about a second</source>
        <translation>etwa eine Sekunde</translation>
    </message>
    <message>
        <source>about %1 seconds</source>
        <translation>etwa %1 Sekunden</translation>
    </message>
    <message>
        <source>about a minute</source>
        <translation>etwa eine Minute</translation>
    </message>
    <message>
        <source>about %1 minutes</source>
        <translation>etwa %1 Minuten</translation>
    </message>
    <message>
        <source>about an hour</source>
        <translation>etwa eine Stunde</translation>
    </message>
    <message>
        <source>about %1 hours</source>
        <translation>etwa %1 Stunden</translation>
    </message>
    <message>
        <source>about a day</source>
        <translation>etwa ein Tag</translation>
    </message>
    <message>
        <source>about %1 days</source>
        <translation>etwa %1 Tage</translation>
    </message>
    <message>
        <source>about a year</source>
        <translation>etwa ein Jahr</translation>
    </message>
    <message>
        <source>about %1 years</source>
        <translation>etwa %1 Jahre</translation>
    </message>
    <message>
        <source>less than a second</source>
        <translation>weniger als eine Sekunde</translation>
    </message>
    <message>
        <source>more than a million years</source>
        <translation>mehr als eine Million Jahre</translation>
    </message>
    <message>
        <source>weak</source>
        <translation>schwach</translation>
    </message>
    <message>
        <source>fair</source>
        <translation>mittel</translation>
    </message>
    <message>
        <source>strong</source>
        <translation>stark</translation>
    </message>
    <message>
        <source>Time to guess: %1 (%2)</source>
        <translation>Zeit zum Erraten: %1 (%2)</translation>
    </message>
    <message>
        <source>The password is empty: anyone who has the file can open it.</source>
        <translation>Das Passwort ist leer: Jeder, der die Datei hat, kann sie öffnen.</translation>
    </message>
    <message>
        <source>One graphics card would guess this password in %1.</source>
        <translation>Zeit, bis eine Grafikkarte dieses Passwort errät: %1.</translation>
    </message>
</context>
<context>
    <name>ProgressDialog</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>Varnisk</source>
        <translation>Varnisk</translation>
    </message>
</context>
<context>
    <name>ProgressLine</name>
    <message>
        <source>Encrypting</source>
        <translation>Verschlüsseln</translation>
    </message>
    <message>
        <source>Decrypting</source>
        <translation>Entschlüsseln</translation>
    </message>
    <message>
        <source>Verifying</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>: %1 of %2 (%3%), %4/s</source>
        <translation>: %1 von %2 (%3 %), %4/s</translation>
    </message>
    <message>
        <source>: %1, %2/s</source>
        <translation>: %1, %2/s</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Backups</source>
        <translation>Sicherungskopien</translation>
    </message>
    <message>
        <source>&amp;Keep the previous version of a document when saving</source>
        <translation>&amp;Vorige Fassung eines Dokuments beim Speichern aufbewahren</translation>
    </message>
    <message>
        <source>Saving doc.stxt keeps the version it replaces as doc.backup.stxt, under the same password. After a password change no backup is kept.</source>
        <translation>Beim Speichern von doc.stxt bleibt die ersetzte Fassung als doc.backup.stxt erhalten, unter demselben Passwort. Nach einer Passwortänderung wird keine Sicherungskopie aufbewahrt.</translation>
    </message>
</context>
<context>
    <name>Varnisk</name>
    <message>
        <source>GIF-File (*.gif)</source>
        <translation>GIF-Datei (*.gif)</translation>
    </message>
    <message>
        <source>JPG-File (*.jpg)</source>
        <translation>JPG-Datei (*.jpg)</translation>
    </message>
    <message>
        <source>PNG-File (*.png)</source>
        <translation>PNG-Datei (*.png)</translation>
    </message>
    <message>
        <source>Select Secrets Directory</source>
        <translation>Geheimnisordner wählen</translation>
    </message>
    <message>
        <source>Tabulator Width:</source>
        <translation>Tabulatorbreite:</translation>
    </message>
    <message>
        <source>Searched text not found!</source>
        <translation>Der gesuchte Text wurde nicht gefunden!</translation>
    </message>
    <message>
        <source>NoName</source>
        <translation>Unbenannt</translation>
    </message>
    <message>
        <source>Save changes?</source>
        <translation>Änderungen speichern?</translation>
    </message>
    <message>
        <source>Select stxt-File...</source>
        <translation>stxt-Datei wählen...</translation>
    </message>
    <message>
        <source>stxt-File (*.stxt)</source>
        <translation>stxt-Datei (*.stxt)</translation>
    </message>
    <message>
        <source>Saving: </source>
        <translation>Speichern: </translation>
    </message>
    <message>
        <source>Opening: </source>
        <translation>Öffnen: </translation>
    </message>
    <message>
        <source>File could not be opened for reading!</source>
        <translation>Die Datei konnte nicht zum Lesen geöffnet werden!</translation>
    </message>
    <message>
        <source>File could not be opened for writing!</source>
        <translation>Die Datei konnte nicht zum Schreiben geöffnet werden!</translation>
    </message>
    <message>
        <source>Unknown error occurred!</source>
        <translation>Ein unbekannter Fehler ist aufgetreten!</translation>
    </message>
    <message>
        <source>Error writing File!
Error-Message: </source>
        <translation>Fehler beim Schreiben der Datei!
Fehlermeldung: </translation>
    </message>
    <message>
        <source>Wrong password!</source>
        <translation>Falsches Passwort!</translation>
    </message>
    <message>
        <source>File-Version &lt; 4!</source>
        <translation>Dateiversion &lt; 4!</translation>
    </message>
    <message>
        <source>This file is not a Varnisk file, or was written by a newer version of Varnisk!</source>
        <translation>Diese Datei ist keine Varnisk-Datei oder wurde von einer neueren Version von Varnisk geschrieben!</translation>
    </message>
    <message>
        <source>Wrong password or corrupted File!
Error-Message: </source>
        <translation>Falsches Passwort oder beschädigte Datei!
Fehlermeldung: </translation>
    </message>
    <message>
        <source>File does not exsist!</source>
        <translation>Die Datei existiert nicht!</translation>
    </message>
    <message>
        <source>File type not supported!</source>
        <translation>Dateityp nicht unterstützt!</translation>
    </message>
    <message>
        <source>Select File...</source>
        <translation>Datei wählen...</translation>
    </message>
    <message>
        <source>Select sdat-File...</source>
        <translation>sdat-Datei wählen...</translation>
    </message>
    <message>
        <source>sdat-File (*.sdat)</source>
        <translation>sdat-Datei (*.sdat)</translation>
    </message>
    <message>
        <source>Encrypting: </source>
        <translation>Verschlüsseln: </translation>
    </message>
    <message>
        <source>File successfully encrypted!</source>
        <translation>Datei erfolgreich verschlüsselt!</translation>
    </message>
    <message>
        <source>sdat-File (*.sdat *.simg)</source>
        <translation>sdat-Datei (*.sdat *.simg)</translation>
    </message>
    <message>
        <source>Decrypting: </source>
        <translation>Entschlüsseln: </translation>
    </message>
    <message>
        <source>File successfully decrypted!</source>
        <translation>Datei erfolgreich entschlüsselt!</translation>
    </message>
    <message>
        <source>Image format not recognized!</source>
        <translation>Bildformat nicht erkannt!</translation>
    </message>
    <message>
        <source>The target is the source file itself!
Choose another file name, so that the source is not overwritten.</source>
        <translation>Das Ziel ist die Quelldatei selbst!
Wählen Sie einen anderen Dateinamen, damit die Quelle nicht überschrieben wird.</translation>
    </message>
    <message>
        <source>No Text selected!</source>
        <translation>Kein Text ausgewählt!</translation>
    </message>
    <message>
        <source>No Window found for typing!</source>
        <translation>Kein Fenster zum Tippen gefunden!</translation>
    </message>
    <message>
        <source>Error typing!</source>
        <translation>Fehler beim Tippen!</translation>
    </message>
    <message>
        <source>Error saving file!
Error-Message: </source>
        <translation>Fehler beim Speichern der Datei!
Fehlermeldung: </translation>
    </message>
    <message>
        <source>
The new file is in place, but its folder could not be synced: it may be lost if the system stops now.</source>
        <translation>
Die neue Datei ist an ihrem Platz, aber ihr Ordner konnte nicht auf die Platte gebracht werden: Hält das System jetzt an, kann sie verloren gehen.</translation>
    </message>
    <message>
        <source>
The old content could not be written back: the file may be damaged. Save the document under another name now.</source>
        <translation>
Der alte Inhalt konnte nicht zurückgeschrieben werden: Die Datei kann beschädigt sein. Speichern Sie das Dokument jetzt unter einem anderen Namen.</translation>
    </message>
    <message>
        <source>The document could not be locked!</source>
        <translation>Das Dokument konnte nicht gesperrt werden!</translation>
    </message>
    <message>
        <source>The file was changed by another program meanwhile; nothing was written.</source>
        <translation>Die Datei wurde inzwischen von einem anderen Programm geändert; es wurde nichts geschrieben.</translation>
    </message>
    <message>
        <source>File could not be opened for writing!
Error-Message: </source>
        <translation>Die Datei konnte nicht zum Schreiben geöffnet werden!
Fehlermeldung: </translation>
    </message>
    <message>
        <source>varnisk: the unsaved changes are kept in %1</source>
        <translation>varnisk: Die ungespeicherten Änderungen sind in %1 aufbewahrt</translation>
    </message>
    <message>
        <source>varnisk: the unsaved changes could not be kept in %1: %2</source>
        <translation>varnisk: Die ungespeicherten Änderungen konnten nicht in %1 aufbewahrt werden: %2</translation>
    </message>
    <message>
        <source>Not enough memory!
Error-Message: </source>
        <translation>Nicht genug Arbeitsspeicher!
Fehlermeldung: </translation>
    </message>
    <message>
        <source>Memory cannot be locked (ulimit -l): passwords may be written to swap.</source>
        <translation>Speicher kann nicht gesperrt werden (ulimit -l): Passwörter können in den Auslagerungsspeicher geschrieben werden.</translation>
    </message>
    <message>
        <source>Passwords don&apos;t match!</source>
        <translation>Die Passwörter stimmen nicht überein!</translation>
    </message>
    <message>
        <source>Saved, but the backup %1 could not be kept: %2</source>
        <translation>Gespeichert, aber die Sicherungskopie %1 konnte nicht aufbewahrt werden: %2</translation>
    </message>
    <message>
        <source>Saved, but the older backup %1 (under the old password) could not be removed: %2</source>
        <translation>Gespeichert, aber die ältere Sicherungskopie %1 (unter dem alten Passwort) konnte nicht entfernt werden: %2</translation>
    </message>
    <message>
        <source>Saved in place (no file can be created in its folder): no backup was kept.</source>
        <translation>An Ort und Stelle gespeichert (in ihrem Ordner kann keine Datei angelegt werden): keine Sicherungskopie aufbewahrt.</translation>
    </message>
    <message>
        <source> (locked)</source>
        <translation> (gesperrt)</translation>
    </message>
    <message>
        <source>The desktop did not allow Varnisk to type.</source>
        <translation>Die Arbeitsumgebung hat Varnisk das Tippen nicht erlaubt.</translation>
    </message>
    <message>
        <source>The keyboard layout has no key for: %1</source>
        <translation>Die Tastaturbelegung hat keine Taste für: %1</translation>
    </message>
    <message>
        <source>Caps Lock is on.</source>
        <translation>Die Feststelltaste ist eingerastet.</translation>
    </message>
</context>
<context>
    <name>VarniskClass</name>
    <message>
        <source>Varnisk</source>
        <translation>Varnisk</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>E&amp;xtras</source>
        <translation>E&amp;xtras</translation>
    </message>
    <message>
        <source>&amp;?</source>
        <translation>&amp;?</translation>
    </message>
    <message>
        <source>toolBar</source>
        <translation>Werkzeugleiste</translation>
    </message>
    <message>
        <source>&amp;New</source>
        <translation>&amp;Neu</translation>
    </message>
    <message>
        <source>Ctrl+N</source>
        <translation>Ctrl+N</translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation>Ö&amp;ffnen...</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Speichern</translation>
    </message>
    <message>
        <source>Ctrl+S</source>
        <translation>Ctrl+S</translation>
    </message>
    <message>
        <source>Save As...</source>
        <translation>Speichern &amp;unter...</translation>
    </message>
    <message>
        <source>Secrets &amp;Directory...</source>
        <translation>&amp;Geheimnisordner...</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>Line &amp;Wrap</source>
        <translation>&amp;Zeilenumbruch</translation>
    </message>
    <message>
        <source>&amp;Find...</source>
        <translation>&amp;Suchen...</translation>
    </message>
    <message>
        <source>Ctrl+F</source>
        <translation>Ctrl+F</translation>
    </message>
    <message>
        <source>&amp;Encrypt File...</source>
        <translation>Datei &amp;verschlüsseln...</translation>
    </message>
    <message>
        <source>&amp;Decrypt File...</source>
        <translation>Datei &amp;entschlüsseln...</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>Ü&amp;ber</translation>
    </message>
    <message>
        <source>&amp;Type Selection...</source>
        <translation>Auswahl &amp;tippen...</translation>
    </message>
    <message>
        <source>F8</source>
        <translation>F8</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>S&amp;chließen</translation>
    </message>
    <message>
        <source>Ctrl+W</source>
        <translation>Ctrl+W</translation>
    </message>
    <message>
        <source>&amp;Tab Width...</source>
        <translation>&amp;Tabulatorbreite...</translation>
    </message>
    <message>
        <source>Type Selection + TAB...</source>
        <translation>Auswahl tippen + TAB...</translation>
    </message>
    <message>
        <source>F9</source>
        <translation>F9</translation>
    </message>
    <message>
        <source>Type Selection + ENTER</source>
        <translation>Auswahl tippen + ENTER</translation>
    </message>
    <message>
        <source>F10</source>
        <translation>F10</translation>
    </message>
    <message>
        <source>&amp;Lock</source>
        <translation>Sp&amp;erren</translation>
    </message>
    <message>
        <source>Ctrl+L</source>
        <translation>Ctrl+L</translation>
    </message>
    <message>
        <source>Se&amp;ttings...</source>
        <translation>&amp;Einstellungen...</translation>
    </message>
</context>
</TS>

#include "fiscal_component/document/nfce_schema.h"

namespace quorvanti::fiscal {

namespace {

// Kept as a literal so that the binary needs no data file beside it. Character ranges are written as
// character references so that this source stays ASCII.
constexpr std::string_view kNfeSchema = R"xsd(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns="http://www.portalfiscal.inf.br/nfe"
    targetNamespace="http://www.portalfiscal.inf.br/nfe" elementFormDefault="qualified"
    attributeFormDefault="unqualified">

  <!-- Basic types -->
  <xs:simpleType name="Text">
    <xs:restriction base="xs:string">
      <xs:pattern value="[!-&#255;]([ -&#255;]*[!-&#255;])?"/>
    </xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="Text60"><xs:restriction base="Text"><xs:minLength value="1"/><xs:maxLength value="60"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Name60"><xs:restriction base="Text"><xs:minLength value="2"/><xs:maxLength value="60"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Text15"><xs:restriction base="Text"><xs:minLength value="1"/><xs:maxLength value="15"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Unit"><xs:restriction base="Text"><xs:minLength value="1"/><xs:maxLength value="6"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Cnpj"><xs:restriction base="xs:string"><xs:pattern value="[0-9]{14}"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Cpf"><xs:restriction base="xs:string"><xs:pattern value="[0-9]{11}"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Municipality"><xs:restriction base="xs:string"><xs:pattern value="[0-9]{7}"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="PostalCode"><xs:restriction base="xs:string"><xs:pattern value="[0-9]{8}"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Phone"><xs:restriction base="xs:string"><xs:pattern value="[0-9]{6,14}"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="Gtin"><xs:restriction base="xs:string"><xs:pattern value="SEM GTIN|[0-9]{8}|[0-9]{12,14}"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="State">
    <xs:restriction base="xs:string">
      <xs:pattern value="AC|AL|AM|AP|BA|CE|DF|ES|GO|MA|MG|MS|MT|PA|PB|PE|PI|PR|RJ|RN|RO|RR|RS|SC|SE|SP|TO"/>
    </xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="StateOrAbroad">
    <xs:restriction base="xs:string">
      <xs:pattern value="AC|AL|AM|AP|BA|CE|DF|ES|GO|MA|MG|MS|MT|PA|PB|PE|PI|PR|RJ|RN|RO|RR|RS|SC|SE|SP|TO|EX"/>
    </xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="StateCode">
    <xs:restriction base="xs:string">
      <xs:pattern value="1[1-7]|2[1-9]|3[1235]|4[1-3]|5[0-3]"/>
    </xs:restriction>
  </xs:simpleType>
  <!-- Date-time with the offset to UTC: 2026-03-05T14:07:09-04:00 -->
  <xs:simpleType name="DateTimeOffset">
    <xs:restriction base="xs:string">
      <xs:pattern value="20[0-9]{2}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])T([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]([+\-](0[0-9]|1[01]):00|\+12:00)"/>
    </xs:restriction>
  </xs:simpleType>
  <!-- Amounts: integer digits, a decimal point and the decimals the layout fixes -->
  <xs:simpleType name="Amount">
    <xs:restriction base="xs:string"><xs:pattern value="0|0\.[0-9]{2}|[1-9][0-9]{0,12}(\.[0-9]{2})?"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="NonZeroAmount">
    <xs:restriction base="xs:string"><xs:pattern value="0\.[0-9][1-9]|0\.[1-9][0-9]|[1-9][0-9]{0,12}(\.[0-9]{2})?"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="Quantity">
    <xs:restriction base="xs:string"><xs:pattern value="0|0\.[0-9]{1,4}|[1-9][0-9]{0,10}(\.[0-9]{1,4})?"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="BaseQuantity">
    <xs:restriction base="xs:string"><xs:pattern value="0|0\.[0-9]{1,4}|[1-9][0-9]{0,11}(\.[0-9]{1,4})?"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="UnitValue">
    <xs:restriction base="xs:string"><xs:pattern value="0|0\.[0-9]{1,10}|[1-9][0-9]{0,10}(\.[0-9]{1,10})?"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="Rate">
    <xs:restriction base="xs:string"><xs:pattern value="0|0\.[0-9]{2,4}|[1-9][0-9]{0,2}(\.[0-9]{2,4})?"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="Origin"><xs:restriction base="xs:string"><xs:pattern value="[0-8]"/></xs:restriction></xs:simpleType>

  <xs:complexType name="Address">
    <xs:sequence>
      <xs:element name="xLgr" type="Name60"/>
      <xs:element name="nro" type="Text60"/>
      <xs:element name="xCpl" type="Text60" minOccurs="0"/>
      <xs:element name="xBairro" type="Name60"/>
      <xs:element name="cMun" type="Municipality"/>
      <xs:element name="xMun" type="Name60"/>
      <xs:element name="UF" type="StateOrAbroad"/>
      <xs:element name="CEP" type="PostalCode" minOccurs="0"/>
      <xs:element name="cPais" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{1,4}"/></xs:restriction></xs:simpleType></xs:element>
      <xs:element name="xPais" type="Name60" minOccurs="0"/>
      <xs:element name="fone" type="Phone" minOccurs="0"/>
    </xs:sequence>
  </xs:complexType>

  <xs:complexType name="EmitterAddress">
    <xs:sequence>
      <xs:element name="xLgr" type="Name60"/>
      <xs:element name="nro" type="Text60"/>
      <xs:element name="xCpl" type="Text60" minOccurs="0"/>
      <xs:element name="xBairro" type="Name60"/>
      <xs:element name="cMun" type="Municipality"/>
      <xs:element name="xMun" type="Name60"/>
      <xs:element name="UF" type="State"/>
      <xs:element name="CEP" type="PostalCode"/>
      <xs:element name="cPais" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:enumeration value="1058"/></xs:restriction></xs:simpleType></xs:element>
      <xs:element name="xPais" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:enumeration value="Brasil"/><xs:enumeration value="BRASIL"/></xs:restriction></xs:simpleType></xs:element>
      <xs:element name="fone" type="Phone" minOccurs="0"/>
    </xs:sequence>
  </xs:complexType>

  <!-- PIS and COFINS share their shape; only the names of the rate and the value differ -->
  <xs:simpleType name="CstAliq"><xs:restriction base="xs:string"><xs:pattern value="0[12]"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="CstQtde"><xs:restriction base="xs:string"><xs:pattern value="03"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="CstNT"><xs:restriction base="xs:string"><xs:pattern value="0[4-9]"/></xs:restriction></xs:simpleType>
  <xs:simpleType name="CstOutr">
    <xs:restriction base="xs:string"><xs:pattern value="49|5[0-6]|6[0-7]|7[0-5]|98|99"/></xs:restriction>
  </xs:simpleType>

  <xs:element name="NFe">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="infNFe">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="ide">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="cUF" type="StateCode"/>
                    <xs:element name="cNF"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{8}"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="natOp" type="Text60"/>
                    <xs:element name="mod"><xs:simpleType><xs:restriction base="xs:string"><xs:enumeration value="65"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="serie"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="0|[1-9][0-9]{0,2}"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="nNF"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[1-9][0-9]{0,8}"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="dhEmi" type="DateTimeOffset"/>
                    <xs:element name="tpNF"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[01]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="idDest"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[123]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="cMunFG" type="Municipality"/>
                    <xs:element name="tpImp"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[45]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="tpEmis"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[19]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="cDV"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="tpAmb"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[12]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="finNFe"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[1-4]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="indFinal"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[01]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="indPres"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-59]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="indIntermed" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[01]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="procEmi"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-3]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="verProc"><xs:simpleType><xs:restriction base="Text"><xs:minLength value="1"/><xs:maxLength value="20"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:sequence minOccurs="0">
                      <xs:element name="dhCont" type="DateTimeOffset"/>
                      <xs:element name="xJust"><xs:simpleType><xs:restriction base="Text"><xs:minLength value="15"/><xs:maxLength value="256"/></xs:restriction></xs:simpleType></xs:element>
                    </xs:sequence>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
              <xs:element name="emit">
                <xs:complexType>
                  <xs:sequence>
                    <xs:choice>
                      <xs:element name="CNPJ" type="Cnpj"/>
                      <xs:element name="CPF" type="Cpf"/>
                    </xs:choice>
                    <xs:element name="xNome" type="Name60"/>
                    <xs:element name="xFant" type="Text60" minOccurs="0"/>
                    <xs:element name="enderEmit" type="EmitterAddress"/>
                    <xs:element name="IE"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{2,14}|ISENTO"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="IEST" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{2,14}"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:sequence minOccurs="0">
                      <xs:element name="IM" type="Text15"/>
                      <xs:element name="CNAE" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{7}"/></xs:restriction></xs:simpleType></xs:element>
                    </xs:sequence>
                    <xs:element name="CRT"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[1-4]"/></xs:restriction></xs:simpleType></xs:element>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
              <xs:element name="dest" minOccurs="0">
                <xs:complexType>
                  <xs:sequence>
                    <xs:choice>
                      <xs:element name="CNPJ" type="Cnpj"/>
                      <xs:element name="CPF" type="Cpf"/>
                      <xs:element name="idEstrangeiro"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[!-&#255;]{5,20}"/></xs:restriction></xs:simpleType></xs:element>
                    </xs:choice>
                    <xs:element name="xNome" type="Name60" minOccurs="0"/>
                    <xs:element name="enderDest" type="Address" minOccurs="0"/>
                    <xs:element name="indIEDest"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[129]"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="IE" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{2,14}"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="ISUF" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{8,9}"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="IM" type="Text15" minOccurs="0"/>
                    <xs:element name="email" type="Text60" minOccurs="0"/>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
              <xs:element name="det" maxOccurs="990">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="prod">
                      <xs:complexType>
                        <xs:sequence>
                          <xs:element name="cProd" type="Text60"/>
                          <xs:element name="cEAN" type="Gtin"/>
                          <xs:element name="xProd"><xs:simpleType><xs:restriction base="Text"><xs:minLength value="1"/><xs:maxLength value="120"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="NCM"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{2}|[0-9]{8}"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="NVE" minOccurs="0" maxOccurs="8"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[A-Z]{2}[0-9]{4}"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="CEST" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{7}"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="CFOP"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[123567][0-9]{3}"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="uCom" type="Unit"/>
                          <xs:element name="qCom" type="Quantity"/>
                          <xs:element name="vUnCom" type="UnitValue"/>
                          <xs:element name="vProd" type="Amount"/>
                          <xs:element name="cEANTrib" type="Gtin"/>
                          <xs:element name="uTrib" type="Unit"/>
                          <xs:element name="qTrib" type="Quantity"/>
                          <xs:element name="vUnTrib" type="UnitValue"/>
                          <xs:element name="vFrete" type="NonZeroAmount" minOccurs="0"/>
                          <xs:element name="vSeg" type="NonZeroAmount" minOccurs="0"/>
                          <xs:element name="vDesc" type="NonZeroAmount" minOccurs="0"/>
                          <xs:element name="vOutro" type="NonZeroAmount" minOccurs="0"/>
                          <xs:element name="indTot"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[01]"/></xs:restriction></xs:simpleType></xs:element>
                        </xs:sequence>
                      </xs:complexType>
                    </xs:element>
                    <xs:element name="imposto">
                      <xs:complexType>
                        <xs:sequence>
                          <xs:element name="vTotTrib" type="Amount" minOccurs="0"/>
                          <xs:element name="ICMS">
                            <xs:complexType>
                              <xs:choice>
                                <xs:element name="ICMSSN101">
                                  <xs:complexType>
                                    <xs:sequence>
                                      <xs:element name="orig" type="Origin"/>
                                      <xs:element name="CSOSN"><xs:simpleType><xs:restriction base="xs:string"><xs:enumeration value="101"/></xs:restriction></xs:simpleType></xs:element>
                                      <xs:element name="pCredSN" type="Rate"/>
                                      <xs:element name="vCredICMSSN" type="Amount"/>
                                    </xs:sequence>
                                  </xs:complexType>
                                </xs:element>
                                <xs:element name="ICMSSN102">
                                  <xs:complexType>
                                    <xs:sequence>
                                      <xs:element name="orig" type="Origin" minOccurs="0"/>
                                      <xs:element name="CSOSN"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="102|103|300|400"/></xs:restriction></xs:simpleType></xs:element>
                                    </xs:sequence>
                                  </xs:complexType>
                                </xs:element>
                                <xs:element name="ICMSSN500">
                                  <xs:complexType>
                                    <xs:sequence>
                                      <xs:element name="orig" type="Origin"/>
                                      <xs:element name="CSOSN"><xs:simpleType><xs:restriction base="xs:string"><xs:enumeration value="500"/></xs:restriction></xs:simpleType></xs:element>
                                    </xs:sequence>
                                  </xs:complexType>
                                </xs:element>
                              </xs:choice>
                            </xs:complexType>
                          </xs:element>
                          <xs:element name="PIS" minOccurs="0">
                            <xs:complexType>
                              <xs:choice>
                                <xs:element name="PISAliq">
                                  <xs:complexType><xs:sequence>
                                    <xs:element name="CST" type="CstAliq"/>
                                    <xs:element name="vBC" type="Amount"/>
                                    <xs:element name="pPIS" type="Rate"/>
                                    <xs:element name="vPIS" type="Amount"/>
                                  </xs:sequence></xs:complexType>
                                </xs:element>
                                <xs:element name="PISQtde">
                                  <xs:complexType><xs:sequence>
                                    <xs:element name="CST" type="CstQtde"/>
                                    <xs:element name="qBCProd" type="BaseQuantity"/>
                                    <xs:element name="vAliqProd" type="Quantity"/>
                                    <xs:element name="vPIS" type="Amount"/>
                                  </xs:sequence></xs:complexType>
                                </xs:element>
                                <xs:element name="PISNT">
                                  <xs:complexType><xs:sequence><xs:element name="CST" type="CstNT"/></xs:sequence></xs:complexType>
                                </xs:element>
                                <xs:element name="PISOutr">
                                  <xs:complexType><xs:sequence>
                                    <xs:element name="CST" type="CstOutr"/>
                                    <xs:choice>
                                      <xs:sequence><xs:element name="vBC" type="Amount"/><xs:element name="pPIS" type="Rate"/></xs:sequence>
                                      <xs:sequence><xs:element name="qBCProd" type="BaseQuantity"/><xs:element name="vAliqProd" type="Quantity"/></xs:sequence>
                                    </xs:choice>
                                    <xs:element name="vPIS" type="Amount"/>
                                  </xs:sequence></xs:complexType>
                                </xs:element>
                              </xs:choice>
                            </xs:complexType>
                          </xs:element>
                          <xs:element name="COFINS" minOccurs="0">
                            <xs:complexType>
                              <xs:choice>
                                <xs:element name="COFINSAliq">
                                  <xs:complexType><xs:sequence>
                                    <xs:element name="CST" type="CstAliq"/>
                                    <xs:element name="vBC" type="Amount"/>
                                    <xs:element name="pCOFINS" type="Rate"/>
                                    <xs:element name="vCOFINS" type="Amount"/>
                                  </xs:sequence></xs:complexType>
                                </xs:element>
                                <xs:element name="COFINSQtde">
                                  <xs:complexType><xs:sequence>
                                    <xs:element name="CST" type="CstQtde"/>
                                    <xs:element name="qBCProd" type="BaseQuantity"/>
                                    <xs:element name="vAliqProd" type="Quantity"/>
                                    <xs:element name="vCOFINS" type="Amount"/>
                                  </xs:sequence></xs:complexType>
                                </xs:element>
                                <xs:element name="COFINSNT">
                                  <xs:complexType><xs:sequence><xs:element name="CST" type="CstNT"/></xs:sequence></xs:complexType>
                                </xs:element>
                                <xs:element name="COFINSOutr">
                                  <xs:complexType><xs:sequence>
                                    <xs:element name="CST" type="CstOutr"/>
                                    <xs:choice>
                                      <xs:sequence><xs:element name="vBC" type="Amount"/><xs:element name="pCOFINS" type="Rate"/></xs:sequence>
                                      <xs:sequence><xs:element name="qBCProd" type="BaseQuantity"/><xs:element name="vAliqProd" type="Quantity"/></xs:sequence>
                                    </xs:choice>
                                    <xs:element name="vCOFINS" type="Amount"/>
                                  </xs:sequence></xs:complexType>
                                </xs:element>
                              </xs:choice>
                            </xs:complexType>
                          </xs:element>
                        </xs:sequence>
                      </xs:complexType>
                    </xs:element>
                  </xs:sequence>
                  <xs:attribute name="nItem" use="required">
                    <xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[1-9][0-9]?|[1-8][0-9]{2}|9[0-8][0-9]|990"/></xs:restriction></xs:simpleType>
                  </xs:attribute>
                </xs:complexType>
              </xs:element>
              <xs:element name="total">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="ICMSTot">
                      <xs:complexType>
                        <xs:sequence>
                          <xs:element name="vBC" type="Amount"/>
                          <xs:element name="vICMS" type="Amount"/>
                          <xs:element name="vICMSDeson" type="Amount"/>
                          <xs:element name="vFCP" type="Amount"/>
                          <xs:element name="vBCST" type="Amount"/>
                          <xs:element name="vST" type="Amount"/>
                          <xs:element name="vFCPST" type="Amount"/>
                          <xs:element name="vFCPSTRet" type="Amount"/>
                          <xs:element name="vProd" type="Amount"/>
                          <xs:element name="vFrete" type="Amount"/>
                          <xs:element name="vSeg" type="Amount"/>
                          <xs:element name="vDesc" type="Amount"/>
                          <xs:element name="vII" type="Amount"/>
                          <xs:element name="vIPI" type="Amount"/>
                          <xs:element name="vIPIDevol" type="Amount"/>
                          <xs:element name="vPIS" type="Amount"/>
                          <xs:element name="vCOFINS" type="Amount"/>
                          <xs:element name="vOutro" type="Amount"/>
                          <xs:element name="vNF" type="Amount"/>
                          <xs:element name="vTotTrib" type="Amount" minOccurs="0"/>
                        </xs:sequence>
                      </xs:complexType>
                    </xs:element>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
              <xs:element name="transp">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="modFrete"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-49]"/></xs:restriction></xs:simpleType></xs:element>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
              <xs:element name="pag">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="detPag" maxOccurs="100">
                      <xs:complexType>
                        <xs:sequence>
                          <xs:element name="indPag" minOccurs="0"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[01]"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="tPag"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[0-9]{2}"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="xPag" minOccurs="0"><xs:simpleType><xs:restriction base="Text"><xs:minLength value="2"/><xs:maxLength value="60"/></xs:restriction></xs:simpleType></xs:element>
                          <xs:element name="vPag" type="Amount"/>
                          <xs:element name="card" minOccurs="0">
                            <xs:complexType>
                              <xs:sequence>
                                <xs:element name="tpIntegra"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="[12]"/></xs:restriction></xs:simpleType></xs:element>
                              </xs:sequence>
                            </xs:complexType>
                          </xs:element>
                        </xs:sequence>
                      </xs:complexType>
                    </xs:element>
                    <xs:element name="vTroco" type="Amount" minOccurs="0"/>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
              <xs:element name="infAdic" minOccurs="0">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="infAdFisco" minOccurs="0"><xs:simpleType><xs:restriction base="Text"><xs:minLength value="1"/><xs:maxLength value="2000"/></xs:restriction></xs:simpleType></xs:element>
                    <xs:element name="infCpl" minOccurs="0"><xs:simpleType><xs:restriction base="Text"><xs:minLength value="1"/><xs:maxLength value="5000"/></xs:restriction></xs:simpleType></xs:element>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
            </xs:sequence>
            <xs:attribute name="versao" use="required"><xs:simpleType><xs:restriction base="xs:string"><xs:pattern value="4\.00"/></xs:restriction></xs:simpleType></xs:attribute>
            <xs:attribute name="Id" use="required"><xs:simpleType><xs:restriction base="xs:ID"><xs:pattern value="NFe[0-9]{44}"/></xs:restriction></xs:simpleType></xs:attribute>
          </xs:complexType>
          <xs:unique name="itemNumber">
            <xs:selector xpath="./*"/>
            <xs:field xpath="@nItem"/>
          </xs:unique>
        </xs:element>
        <xs:element name="infNFeSupl" minOccurs="0">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="qrCode">
                <xs:simpleType>
                  <xs:restriction base="xs:string">
                    <xs:minLength value="60"/>
                    <xs:maxLength value="1000"/>
                    <!-- version 2, online: key of a normal emission, version, environment, token id, hash -->
                    <xs:pattern value="https?://[!-&#255;]*\?p=[0-9]{34}[1-8][0-9]{9}\|2\|[12]\|(0|[1-9][0-9]{0,5})\|[0-9A-Fa-f]{40}"/>
                    <!-- version 2, offline: adds the day of emission, vNF and the digest in hexadecimal -->
                    <xs:pattern value="https?://[!-&#255;]*\?p=[0-9]{34}9[0-9]{9}\|2\|[12]\|(0[1-9]|[12][0-9]|3[01])\|(0|0\.[0-9]{2}|[1-9][0-9]{0,12}(\.[0-9]{2})?)\|[0-9A-Fa-f]{56}\|(0|[1-9][0-9]{0,5})\|[0-9A-Fa-f]{40}"/>
                  </xs:restriction>
                </xs:simpleType>
              </xs:element>
              <xs:element name="urlChave"><xs:simpleType><xs:restriction base="Text"><xs:minLength value="21"/><xs:maxLength value="85"/></xs:restriction></xs:simpleType></xs:element>
            </xs:sequence>
          </xs:complexType>
        </xs:element>
        <xs:any namespace="http://www.w3.org/2000/09/xmldsig#" processContents="skip"/>
      </xs:sequence>
    </xs:complexType>
  </xs:element>
</xs:schema>
)xsd";

constexpr std::string_view kSignatureSchema = R"xsd(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns="http://www.w3.org/2000/09/xmldsig#"
    targetNamespace="http://www.w3.org/2000/09/xmldsig#" elementFormDefault="qualified">
  <xs:complexType name="Method">
    <xs:attribute name="Algorithm" type="xs:anyURI" use="required"/>
  </xs:complexType>
  <xs:element name="Signature">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="SignedInfo">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="CanonicalizationMethod">
                <xs:complexType>
                  <xs:attribute name="Algorithm" use="required" fixed="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>
                </xs:complexType>
              </xs:element>
              <xs:element name="SignatureMethod">
                <xs:complexType>
                  <xs:attribute name="Algorithm" use="required" fixed="http://www.w3.org/2000/09/xmldsig#rsa-sha1"/>
                </xs:complexType>
              </xs:element>
              <xs:element name="Reference">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="Transforms">
                      <xs:complexType>
                        <xs:sequence>
                          <xs:element name="Transform" minOccurs="2" maxOccurs="2">
                            <xs:complexType>
                              <xs:attribute name="Algorithm" use="required">
                                <xs:simpleType>
                                  <xs:restriction base="xs:anyURI">
                                    <xs:enumeration value="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>
                                    <xs:enumeration value="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>
                                  </xs:restriction>
                                </xs:simpleType>
                              </xs:attribute>
                            </xs:complexType>
                          </xs:element>
                        </xs:sequence>
                      </xs:complexType>
                    </xs:element>
                    <xs:element name="DigestMethod">
                      <xs:complexType>
                        <xs:attribute name="Algorithm" use="required" fixed="http://www.w3.org/2000/09/xmldsig#sha1"/>
                      </xs:complexType>
                    </xs:element>
                    <xs:element name="DigestValue" type="xs:base64Binary"/>
                  </xs:sequence>
                  <xs:attribute name="URI" use="required">
                    <xs:simpleType><xs:restriction base="xs:anyURI"><xs:pattern value="#NFe[0-9]{44}"/></xs:restriction></xs:simpleType>
                  </xs:attribute>
                </xs:complexType>
              </xs:element>
            </xs:sequence>
          </xs:complexType>
        </xs:element>
        <xs:element name="SignatureValue" type="xs:base64Binary"/>
        <xs:element name="KeyInfo">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="X509Data">
                <xs:complexType>
                  <xs:sequence>
                    <xs:element name="X509Certificate" type="xs:base64Binary"/>
                  </xs:sequence>
                </xs:complexType>
              </xs:element>
            </xs:sequence>
          </xs:complexType>
        </xs:element>
      </xs:sequence>
      <xs:attribute name="Id" type="xs:ID" use="optional"/>
    </xs:complexType>
  </xs:element>
</xs:schema>
)xsd";

}  // namespace

std::string_view ownNfeSchema() { return kNfeSchema; }

std::string_view ownSignatureSchema() { return kSignatureSchema; }

}  // namespace quorvanti::fiscal
